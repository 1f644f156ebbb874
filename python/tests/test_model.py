"""Open/close/lock/scan/batch/broadcast sequences on the default board's
SIM-FPGA-A, checked against a model of its memory node (node 0) and of
which hub and node ids are in use."""

import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule

import sld
from sld import sim

CABLE, PERSISTENT_ID, POSITION = "SimCable-1", 1, 0
MEMORY, SHIFT = 0, 3  # node indexes
DEPTH = 256
ADDRESS, WRITE, READ = 1, 2, 3

pick = st.integers(min_value=0, max_value=1 << 16)
words = st.lists(st.integers(min_value=0, max_value=(1 << 32) - 1), min_size=1, max_size=3)


class Block:
    """A with block the machine has entered and not yet left."""

    def __init__(self, owner, manager):
        self.owner, self.manager = owner, manager
        self.hub = owner.hub if isinstance(owner, sld.Node) else owner
        manager.__enter__()

    def exit(self):
        self.manager.__exit__(None, None, None)


def choose(items, index):
    return items[index % len(items)]


class HubMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.hubs = []  # Hub objects the test holds (open or closed)
        self.nodes = []  # Node objects the test holds
        self.memory = [0] * DEPTH
        self.address = 0  # the memory node's address register
        self.lock = None  # the lock block entered (a Block), until its exit
        self.device_locked = False
        self.broadcast = None  # the broadcast block entered (a Block)
        self.queued = {}  # node index -> instruction queued in the broadcast

    # ---- what the model expects of ids ----------------------------------------
    def reachable_hubs(self):
        owners = self.hubs + [n.hub for n in self.nodes] + [b.hub for b in self.blocks()]
        return [h for h in owners if not h.closed]

    def open_nodes(self):
        owners = self.nodes + [b.owner for b in self.blocks() if isinstance(b.owner, sld.Node)]
        return [n for n in owners if not n.closed]

    def blocks(self):
        return [b for b in (self.lock, self.broadcast) if b is not None]

    @staticmethod
    def lowest_free(used, size):
        return min(set(range(size)) - set(used))

    # ---- opening and closing -------------------------------------------------------
    @initialize()
    def open_memory_node(self):
        self.hubs.append(sld.open_hub(CABLE, "@1"))
        self.nodes.append(self.hubs[0].open_node(MEMORY))

    @precondition(lambda self: len(self.hubs) < 4)
    @rule(how=st.sampled_from(["@1", "string", "device"]))
    def open_hub(self, how):
        expected = self.lowest_free([h.id for h in self.reachable_hubs()], 128)
        device = {"@1": "@1", "string": "@1: SIM-FPGA-A (0x020A10DD)"}.get(how)
        hub = sld.open_hub(CABLE, device) if device else sld.devices(CABLE)[POSITION].open_hub()
        assert hub.id == expected
        assert [n.node_id for n in hub.nodes] == [1, 2, 3, 4]
        self.hubs.append(hub)

    @precondition(lambda self: self.hubs and self.lock is None and self.broadcast is None)
    @rule(which=pick)
    def close_hub(self, which):
        hub = choose(self.hubs, which)
        hub.close()
        assert hub.closed and all(n.closed for n in self.nodes if n.hub is hub)
        with pytest.raises(ValueError, match="closed"):
            hub.open_node(MEMORY)

    @precondition(lambda self: self.hubs)
    @rule(which=pick)
    def forget_hub(self, which):
        self.hubs.remove(choose(self.hubs, which))  # no cycle holds a Hub: freed here

    @precondition(lambda self: self.hubs and len(self.nodes) < 6)
    @rule(which=pick, index=st.sampled_from([MEMORY, SHIFT]))
    def open_node(self, which, index):
        hub = choose(self.hubs, which)
        if hub.closed:
            with pytest.raises(ValueError):
                hub.open_node(index)
            return
        expected = self.lowest_free([n.id for n in self.open_nodes()], 512)
        node = hub.open_node(index)
        assert (node.id, node.info.index) == (expected, index)
        self.nodes.append(node)

    @precondition(lambda self: self.nodes)
    @rule(which=pick, forget=st.booleans())
    def close_node(self, which, forget):
        node = choose(self.nodes, which)
        if forget:
            self.nodes.remove(node)
            del node
        else:
            node.close()
            with pytest.raises(ValueError, match="closed"):
                node.ir(ADDRESS)

    # ---- the memory node ----------------------------------------------------------
    def memory_node(self, which):
        candidates = [n for n in self.open_nodes() if n.index == MEMORY]
        return choose(candidates, which) if candidates else None

    @precondition(lambda self: self.broadcast is None)
    @rule(which=pick, address=st.integers(0, DEPTH - 1), data=words, batch=st.booleans())
    def write(self, which, address, data, batch):
        node = self.memory_node(which)
        if node is None:
            return
        steps = [sld.Ir(ADDRESS), sld.Dr(8, address), sld.Ir(WRITE)] + [sld.Dr(32, w, read=False) for w in data]
        if batch:
            results = node.batch(steps)
            assert results[1] == self.address
        else:
            node.ir(ADDRESS)
            assert node.dr(8, address) == self.address
            node.ir(WRITE)
            for w in data:
                node.dr(32, w, read=False)
        for k, w in enumerate(data):
            self.memory[(address + k) % DEPTH] = w
        self.address = (address + len(data)) % DEPTH
        assert sim.memory_peek(PERSISTENT_ID, POSITION, MEMORY, address) == data[0]

    @precondition(lambda self: self.broadcast is None)
    @rule(which=pick, address=st.integers(0, DEPTH - 1), count=st.integers(1, 3), as_bytes=st.booleans())
    def read(self, which, address, count, as_bytes):
        node = self.memory_node(which)
        if node is None:
            return
        blank = b"\0\0\0\0" if as_bytes else 0
        results = node.batch([sld.Ir(ADDRESS), sld.Dr(8, address), sld.Ir(READ, capture=True)]
                             + [sld.Dr(32, blank) for _ in range(count)])
        assert results[1] == self.address and results[2] == ADDRESS
        expected = [self.memory[(address + k) % DEPTH] for k in range(count)]
        if as_bytes:
            expected = [w.to_bytes(4, "little") for w in expected]
        assert results[3:] == expected
        self.address = (address + count) % DEPTH

    # ---- hub lock -------------------------------------------------------------------------
    @precondition(lambda self: self.lock is None)
    @rule(which=pick, through_node=st.booleans(), manual=st.booleans())
    def lock_enter(self, which, through_node, manual):
        owners = self.open_nodes() if through_node else self.reachable_hubs()
        if not owners:
            return
        owner = choose(owners, which)
        manager = owner.lock(timeout=1000, manual=manual) if through_node else owner.lock(timeout=1000)
        self.lock, self.device_locked = Block(owner, manager), True

    @precondition(lambda self: self.lock is not None)
    @rule()
    def lock_exit(self):
        self.lock.exit()  # also after a broadcast or a closed node
        self.lock, self.device_locked = None, False

    # ---- broadcast ------------------------------------------------------------------------
    @rule(which=pick)
    def broadcast_begin(self, which):
        hubs = self.reachable_hubs()
        if not hubs:
            return
        hub = choose(hubs, which)
        if self.broadcast is not None:
            with pytest.raises(sld.SldError) as error:
                Block(hub, hub.broadcast())
            assert error.value.status == sld.Status.SLD_BROADCAST_ACTIVE
            del error  # its traceback refers to this frame: no cycle keeps the hub alive
            return
        self.broadcast, self.queued = Block(hub, hub.broadcast()), {}

    @precondition(lambda self: self.broadcast is not None)
    @rule(which=pick, value=st.integers(0, 255))
    def queue_instruction(self, which, value):
        nodes = self.open_nodes()
        if not nodes:
            return
        node = choose(nodes, which)
        if node.index in self.queued:
            with pytest.raises(sld.SldError) as error:
                node.ir(value)
            assert error.value.name == "SLD_NODE_ALREADY_QUEUED"
            del error
            return
        node.ir(value)
        self.queued[node.index] = value

    @precondition(lambda self: self.broadcast is not None)
    @rule()
    def broadcast_end(self):
        self.broadcast.exit()
        for index, value in self.queued.items():
            assert sim.node_instruction(PERSISTENT_ID, POSITION, index) == value
        self.broadcast, self.queued, self.device_locked = None, {}, False

    # ---- what must hold after every step ------------------------------------------------
    @invariant()
    def handles_and_locks_match(self):
        expected_handles = 1 if self.reachable_hubs() else 0
        assert sim.open_handle_count(PERSISTENT_ID) == expected_handles
        assert sim.device_locked(PERSISTENT_ID, POSITION) == self.device_locked

    def teardown(self):
        for block in self.blocks()[::-1]:
            block.exit()
        for hub in self.reachable_hubs():
            hub.close()
        self.hubs, self.nodes, self.lock, self.broadcast = [], [], None, None
        assert sim.open_handle_count() == 0
        sim.reset()


HubMachine.TestCase.settings = settings(
    max_examples=60,
    stateful_step_count=30,
    deadline=None,
    database=None,
    suppress_health_check=[HealthCheck.too_slow],
)
test_hub_machine = HubMachine.TestCase
