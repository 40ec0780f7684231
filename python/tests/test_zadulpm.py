"""The zadulpm module: reflection made Pythonic, an agent with Python
handlers, and read-only reading through the command's reader."""
import pytest

import zadulpm


def test_reflection_reads_and_sets_attributes_calls_operations_and_maps_collections(agent):
    intf = agent.tcam_interface
    assert intf.class_name == "ZaduLpm::TcamInterface"
    assert ("makeSwTable", "an operation") in intf.members
    assert "makeSwTable" in intf.operations and "makeSwTable" in dir(intf)
    assert intf.tableId == 0x02010809
    intf.tableName = "Renamed"
    assert intf.tableName == "Renamed"
    intf.tableName = "Tcam"
    with pytest.raises(zadulpm.ReflectionError, match="tableId"):
        intf.tableId = 5
    with pytest.raises(AttributeError, match="noSuchMember"):
        intf.noSuchMember
    table = intf.makeSwTable(3, None, True)
    assert table.class_name == "ZaduLpm::TcamSwTable"
    entry_log = intf.entryLog
    pantries = entry_log.tableConfigPantry
    assert 3 in pantries and 9 not in pantries
    assert len(pantries) == 1
    assert list(pantries) == [3]
    assert pantries[3].class_name == "ZaduLpmLib::TcamDataModelConfigPantry"
    with pytest.raises(KeyError):
        pantries[9]
    with pytest.raises(zadulpm.ReflectionError, match="expected unsigned integer"):
        intf.makeSwTable("three", None, True)
    with pytest.raises(zadulpm.TypeMismatchError, match="not a prefix"):
        zadulpm.key("10.0.0/8")
    with pytest.raises(zadulpm.ReflectionError, match="argument"):
        intf.makeSwTable(3)


def test_an_agent_writes_with_handlers_reads_and_walks(agent, hardware, capfd):
    hardware()
    table = agent.table(0, reset=True)
    answers = []
    for n in range(5):
        key = zadulpm.key(f"10.{n}.0.0/16")
        table.write(key, zadulpm.entry(key, adjacency=n, cookie=7), answers.append)
    table.remove(zadulpm.key("10.4.0.0/16"), answers.append)
    # Pending: reads show the table as it will stand, with the cookie.
    assert table.read("10.1.0.0/16").adjacencyIndex == 1
    assert table.read("10.1.0.0/16").clientCookie == 7
    assert not table.has("10.4.0.0/16")
    assert agent.run_until(lambda: len(answers) == 6, 10000)
    assert [handle.state for handle in answers] == ["completed"] * 6
    assert answers[0].key == zadulpm.key("10.0.0.0/16")
    assert answers[-1].log_version > answers[0].log_version
    assert len(table) == 4
    assert table.read("10.1.0.0/16").clientCookie == 0  # committed: not logged
    assert sorted(entry.key.prefix for entry in table.entries()) == [
        (10 << 24) | (n << 16) for n in range(4)]
    snapshot = table.snapshot()
    assert len(snapshot.tableEntries) == 4
    assert snapshot.tableEntries["10.2.0.0/16"].adjacencyIndex == 2

    # A handler that raises is reported, never unwinds; the rest goes on.
    def failing(handle):
        raise RuntimeError("handler failed on purpose")

    table.write("10.9.0.0/16", zadulpm.entry("10.9.0.0/16", 1), failing)
    table.write("10.8.0.0/16", zadulpm.entry("10.8.0.0/16", 1), answers.append)
    assert agent.run_until(lambda: len(answers) == 7, 10000)
    assert agent.handler_errors == 1
    assert "handler failed on purpose" in capfd.readouterr().err


HOST_BITS = "10.1.0.1/16: host bits set below the prefix length"
TOO_LONG = "10.1.0.0/33: prefix length above 32"


@pytest.mark.parametrize("bad, text", [
    ("10.1.0.1/16", HOST_BITS),
    ({"prefix": (10 << 24) | (1 << 16) | 1, "length": 16}, HOST_BITS),
    ("10.1.0.0/33", TOO_LONG),
    ({"prefix": (10 << 24) | (1 << 16), "length": 33}, TOO_LONG),
])
def test_a_key_the_tcam_cannot_hold_is_refused_by_every_writer_and_found_by_no_read(
        agent, bad, text):
    table = agent.table(0, reset=True)
    table.write("10.1.0.0/16", zadulpm.entry("10.1.0.0/16", 1))
    answers = []
    writers = [
        lambda: table.write(bad, zadulpm.entry("10.1.0.0/16", 2), answers.append),
        lambda: table.write(bad, zadulpm.entry("10.1.0.0/16", 2)),
        lambda: table.remove(bad, answers.append),
        lambda: table.entity.updateEntry(bad),
        lambda: zadulpm.entry(bad, 2),
    ]
    if isinstance(bad, str):
        writers.append(lambda: zadulpm.key(bad))
    for writer in writers:
        with pytest.raises(ValueError) as refused:
            writer()
        assert str(refused.value) == text
    # Nothing changed: one pending write, one version taken, no answer.
    entity = table.entity
    assert len(entity.transientAddEntry) == 1 and len(entity.transientRemoveEntry) == 0
    assert list(entity.transientVersionForKey) == [zadulpm.key("10.1.0.0/16")]
    assert answers == []
    agent.run_until_idle()
    assert [str(entry.key) for entry in table.entries()] == ["10.1.0.0/16"]
    assert not table.has(bad)
    assert table.read(bad).adjacencyIndex == 0
    assert table.read("10.1.0.0/16").adjacencyIndex == 1


def test_the_reader_reads_what_the_agent_committed(agent, hardware, root, store):
    hardware()
    table = agent.table(2, reset=True)
    done = []
    table.write("10.1.0.0/16", zadulpm.entry("10.1.0.0/16", 5), done.append)
    table.write("10.1.2.0/24", zadulpm.entry("10.1.2.0/24", 6), done.append)
    table.remove("10.1.0.0/16", done.append)
    assert agent.run_until(lambda: len(done) == 3, 10000)
    reader = zadulpm.Reader(root, store)
    status = reader.status()
    assert status["hardware"]["publishedVersion"] == status["changeLog"]["tableVersion"]
    assert status["changeLog"]["writer"]["alive"]
    (unit,) = status["units"]
    assert (unit["unit"], unit["live"]) == (2, 1)
    assert reader.entries(2) == [{"prefix": "10.1.2.0/24", "adjacency": 6, "action": 0,
                                     "classId": 0, "logVersion": 2, "inDeletion": False}]
    assert reader.route_get(2, "10.1.2.9")["prefix"] == "10.1.2.0/24"
    assert reader.route_get(2, "10.1.2.9")["nextHop"] is None  # this agent has no next hops
    assert reader.route_get(2, "10.1.3.9") is None
    with pytest.raises(zadulpm.ReadError) as no_adjacencies:
        reader.adjacencies()
    assert no_adjacencies.value.code == 6
    with pytest.raises(zadulpm.ReadError) as missing:
        reader.entries(7)
    assert missing.value.code == 6
    with pytest.raises(zadulpm.ReadError) as nothing:
        zadulpm.Reader("/nonexistent", store)
    assert nothing.value.code == 3
