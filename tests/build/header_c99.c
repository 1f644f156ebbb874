/* The public header as strict C99: it must compile with -pedantic-errors,
 * and the C compiler must lay the records out as the C++ side does. */
#include <stddef.h>

#include "sld.h"
#include "sld_status.h"

size_t sld_c_layout(int which);

size_t sld_c_layout(int which) {
    switch (which) {
    case 0:
        return sizeof(SLD_NODE_INFO);
    case 1:
        return offsetof(SLD_NODE_INFO, manufacturer_id);
    case 2:
        return offsetof(SLD_NODE_INFO, node_id);
    case 3:
        return offsetof(SLD_NODE_INFO, version);
    case 4:
        return sizeof(SLD_SCX_LOG_RECORD);
    case 5:
        return offsetof(SLD_SCX_LOG_RECORD, data);
    case 6:
        return offsetof(SLD_SCX_LOG_RECORD, next);
    case 7:
        return sizeof(SLD_BATCH_ACCESS);
    case 8:
        return offsetof(SLD_BATCH_ACCESS, read);
    case 9:
        return offsetof(SLD_BATCH_ACCESS, delay);
    default:
        return 0;
    }
}
