// Runs one fuzz input against the library and the simulator and checks
// every answer against the model: exact answers where the model knows them
// (ids, locks, queues, the untouched board), the documented statuses
// everywhere. Any mismatch prints what happened and aborts.
#ifndef SLD_TESTS_FUZZ_DRIVER_H
#define SLD_TESTS_FUZZ_DRIVER_H

#include <cstdint>
#include <string>
#include <vector>

#include "../reliability/api_status.h"
#include "catalog.h"
#include "fuzz_input.h"
#include "model.h"
#include "scxsim.h"

// Device strings the driver remembers from the lists it was given.
const size_t MAX_SEEN_DEVICES = 32;
// Tables of names the driver keeps reading after they were handed out.
const size_t MAX_HANDED_TABLES = 32;

class Driver {
  public:
    explicit Driver(const Catalog &catalog) : catalog_(catalog), in_(nullptr, 0) {}

    // Runs the input from a clean library and leaves it clean again.
    void run(const uint8_t *data, size_t size);
    // The state every input starts from: simulator reset, library empty.
    static void reset_world();

  private:
    // Bookkeeping around each operation.
    void begin_op(Op op);
    void end_op(bool may_destroy);
    void observe();
    void probe_hubs(bool may_destroy);
    bool clean() const { return !dirty_; }
    bool out_of_memory() const { return allocation_failed_now_; }
    // Whether JTAG traffic on the hub must succeed: nothing changed the
    // board, no fault fired, and no other hub object on its device is held.
    bool predictable(const ModelHub *hub) const {
        return clean() && !out_of_memory() && !model_.device_held_elsewhere(hub, hub->device);
    }
    [[noreturn]] void mismatch(const std::string &what);
    void expect(Api fn, SLD_ERROR got, SLD_ERROR want);
    void documented(Api fn, SLD_ERROR got);

    // Argument choices.
    int pick_hub_id();
    int pick_node_id();
    const std::string *pick_name();
    const std::string *pick_device();
    unsigned long pick_length();
    unsigned long pick_small();
    unsigned long pick_cable();

    // Operations.
    void run_op(Op op);
    void get_version();
    void scan_log();
    void get_hardware();
    void get_hardware_name();
    void get_persistent_id();
    void get_device();
    void refresh_device();
    void hub_open(const std::string *name, const std::string *device, bool null_id);
    void notice_hubs_ended_by_open(int new_id);
    void hub_close();
    void scx_device_open();
    void raw_close();
    void get_scx_open_id();
    void number_of_nodes();
    void node_info();
    void node_open(int hub_id, unsigned char index, bool null_id);
    void node_close();
    void lock(Api fn, SLD_ERROR refusal, ModelHub *hub, SLD_ERROR got);
    void unlock(Api fn, SLD_ERROR refusal, ModelHub *hub, SLD_ERROR got);
    void hub_lock();
    void hub_unlock();
    void node_lock();
    void node_unlock();
    void access_ir();
    void access_dr();
    void batch();
    void rti();
    void flush_or_delay(bool delay);
    void broadcast_begin();
    void broadcast_end();
    void hot_plug();
    void fault();
    void open_many_hubs();
    void open_many_nodes();
    void finish();
    // A table of names is the library's until unload. A hardware table must
    // read as it did, and equal names must come in the same table. A device
    // table is its chain's own while the chain keeps its count, which
    // writes a changed IDCODE into it: it must keep its length and each
    // position's own "@N: " string.
    void check_table(Api fn, char **table, unsigned long count);

    struct HandedTable {
        Api fn;
        char **table;
        std::vector<std::string> names; // what it held when last handed out
    };

    struct Armed {
        scxsim::Fn fn;
        unsigned long fires_at; // call count of fn at which it fires
    };

    const Catalog &catalog_;
    FuzzInput in_;
    Model model_;
    std::vector<std::string> seen_devices_;
    std::vector<HandedTable> handed_tables_;
    std::vector<SCX_OPEN *> raw_handles_;
    std::vector<Armed> armed_;
    std::vector<std::string> history_;
    long allocation_fails_at_ = -1;
    bool allocation_failed_now_ = false;
    bool dirty_ = false; // a fault fired, or the board changed
    bool close_may_have_failed_ = false;
    bool log_must_be_empty_ = true;
    bool log_enabled_ = false;
};

#endif
