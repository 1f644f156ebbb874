// Library calls on the node, with the status of a failing one in words.
#include "node_link.h"

#include <cstdio>

#include "errors.h"
#include "printable.h"
#include "sld.h"

namespace sldtap {

namespace {

bool ok(int status, const char *call, std::string *message) {
    if (status == SLD_OK)
        return true;
    *message = sldtool::describe_failure(call, status);
    return false;
}

} // namespace

bool NodeLink::connect(std::string *message) {
    has_ir_ = false;
    if (share_ || locked_)
        return true;
    if (!ok(sld_node_lock(node_id_, LOCK_TIMEOUT_MS), "sld_node_lock", message))
        return false;
    locked_ = true;
    return true;
}

void NodeLink::disconnect() {
    if (!locked_)
        return;
    locked_ = false;
    std::string message;
    if (!ok(sld_node_unlock(node_id_), "sld_node_unlock", &message))
        std::fprintf(stderr, "sldtap: %s\n", sldtool::printable(message, true).c_str());
}

bool NodeLink::load_ir(unsigned long instruction, std::string *message) {
    ++counts_.ir_scans;
    if (!ok(sld_node_access_ir(node_id_, instruction, nullptr, 0), "sld_node_access_ir", message))
        return false;
    ir_ = instruction;
    has_ir_ = true;
    return true;
}

bool NodeLink::scan_dr(const std::vector<uint8_t> &tdi, unsigned long bits, std::vector<uint8_t> *tdo,
                       std::string *message) {
    ++counts_.dr_scans;
    tdo->assign((bits + 7) / 8, 0);
    if (!share_)
        return ok(sld_node_access_dr(node_id_, bits, tdi.data(), tdo->data(), 0), "sld_node_access_dr", message);
    // Another tool may have used another node of the hub since the last
    // scan: the instruction goes again, in one batch under one lock.
    if (!ok(sld_node_lock(node_id_, LOCK_TIMEOUT_MS), "sld_node_lock", message))
        return false;
    SLD_BATCH_ACCESS batch[3] = {};
    size_t n = 0;
    if (has_ir_) {
        batch[n].kind = SLD_BATCH_IR;
        batch[n].write = ir_;
        ++n;
    }
    batch[n].kind = SLD_BATCH_DR;
    batch[n].write = reinterpret_cast<unsigned long>(tdi.data());
    batch[n].read = reinterpret_cast<unsigned long>(tdo->data());
    batch[n].length = bits;
    const bool scanned = ok(sld_node_batch_access(node_id_, batch), "sld_node_batch_access", message);
    std::string unlock_message;
    const bool unlocked = ok(sld_node_unlock(node_id_), "sld_node_unlock", &unlock_message);
    if (scanned && !unlocked)
        *message = unlock_message;
    return scanned && unlocked;
}

bool NodeLink::idle(unsigned long clocks, std::string *message) {
    ++counts_.rti_calls;
    counts_.rti_clocks += clocks;
    return ok(sld_node_rti(node_id_, clocks), "sld_node_rti", message);
}

} // namespace sldtap
