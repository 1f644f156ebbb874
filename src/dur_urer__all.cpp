// The whole library as one translation unit: every source below is
// included here and nowhere else, so the build is one compiler run and all
// internal symbols stay in this unit.
#define SLD_BUILDING_LIBRARY 1

#include "frame/memory.cpp"
#include "frame/manager.cpp"
#include "frame/status.cpp"
#include "frame/string_pool.cpp"
#include "frame/handle_tables.cpp"
#include "frame/scan_log.cpp"

#include "hub/hub_object.cpp"
#include "hub/discovery.cpp"
#include "hub/encoding.cpp"
#include "hub/held_hubs.cpp"
#include "hub/locking.cpp"
#include "hub/node_access.cpp"
#include "hub/broadcast.cpp"

#include "hardware/device_list.cpp"
#include "hardware/device_open.cpp"
#include "hardware/hardware_list.cpp"
#include "hardware/hardware_lookup.cpp"
#include "hardware/hub_open.cpp"

#include "api/version_api.cpp"
#include "api/log_api.cpp"
#include "api/hardware_api.cpp"
#include "api/hub_api.cpp"
#include "api/node_api.cpp"
#include "api/lock_api.cpp"
#include "api/access_api.cpp"
#include "api/broadcast_api.cpp"
