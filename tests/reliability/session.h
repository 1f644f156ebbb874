// One run of a scenario. Every sld_ call of the run goes through a session,
// which checks each status against the documented set and, after each call,
// that the calling thread holds exactly one library mutex level per hub lock
// it holds. The session remembers every id and handle the run opened and
// every hub lock it holds, so that all of them can be released afterwards.
#ifndef SLD_TESTS_RELIABILITY_SESSION_H
#define SLD_TESTS_RELIABILITY_SESSION_H

#include <map>
#include <string>
#include <vector>

#include "api_status.h"
#include "scx/scx.h"
#include "sld.h"

class Session {
  public:
    explicit Session(std::string context);

    // Checks one call's status and the mutex depth after it; returns status.
    SLD_ERROR note(Api fn, SLD_ERROR status);
    void violation(const std::string &what);

    // Calls whose outputs are checked or that open, lock or release
    // something; each returns the call's status or the id it opened (-1
    // when it failed).
    SLD_ERROR get_hardware(std::vector<std::string> *names);
    SLD_ERROR get_device(const std::string &hardware, std::vector<std::string> *devices);
    int hub_open(const std::string &hardware, const std::string &device);
    SLD_ERROR hub_close(int hub_id);
    SLD_ERROR scx_device_open(const std::string &hardware, const std::string &device);
    SLD_ERROR number_of_nodes(int hub_id, unsigned char *count);
    SLD_ERROR node_info(int hub_id, unsigned char index);
    int node_open(int hub_id, unsigned char index);
    SLD_ERROR node_close(int node_id);
    SLD_ERROR hub_lock(int hub_id, unsigned long timeout);
    SLD_ERROR hub_unlock(int hub_id);
    SLD_ERROR node_lock(int node_id, unsigned long timeout, bool manual);
    SLD_ERROR node_unlock(int node_id);
    SLD_ERROR broadcast_end(int hub_id);

    // Releases every hub lock the run holds and closes every node id, hub
    // id and raw handle it opened, each of which must succeed; turns the
    // scan log off and empties it.
    void close_everything();

    // Hub locks the run holds now, by hub object.
    int held_count() const;

    const std::string &context() const { return context_; }
    const std::vector<Api> &calls() const { return calls_; }
    const std::vector<SLD_ERROR> &statuses() const { return statuses_; }
    const std::vector<std::string> &violations() const { return violations_; }

    // Internal test builds count the library's allocations: the call during
    // which the count reaches fail_at is the one whose allocation failed.
    void watch_allocations(long (*counter)(), long fail_at);
    // Index into calls() of that call, or -1.
    long allocation_failed_in() const { return allocation_failed_in_; }

    // Index into calls() of the call that made the k-th SCX call (counted
    // from 1 since the simulator's call count was last reset), or -1.
    long call_of_scx_call(unsigned long k) const;

  private:
    struct HubObject {
        SCX_OPEN *handle;         // the hub's device handle: its identity
        bool held;                // this thread holds its lock
        std::vector<int> hub_ids; // ids of the run that refer to it
    };

    bool hub_id_live(int hub_id) const;
    HubObject *object_of_hub(int hub_id);
    HubObject *object_of_node(int node_id);
    void forget_dead_holds();
    void check_depth(const char *after);
    void lock_result(HubObject *object, Api fn, SLD_ERROR status);
    void unlock_result(HubObject *object, Api fn, SLD_ERROR status);

    std::string context_;
    std::vector<Api> calls_;
    std::vector<SLD_ERROR> statuses_;
    std::vector<unsigned long> scx_calls_after_; // the simulator's call count after each call
    std::vector<std::string> violations_;
    std::vector<HubObject> objects_;
    std::map<int, size_t> hub_objects_; // hub id -> index into objects_
    std::map<int, int> node_hubs_;      // node id -> hub id
    std::vector<SCX_OPEN *> raw_handles_;
    long (*allocation_counter_)();
    long allocation_fail_at_;
    long allocations_seen_;
    long allocation_failed_in_;
};

#endif
