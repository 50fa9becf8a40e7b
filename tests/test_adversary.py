"""The hostile interpreter: Python code that runs in the middle of every operation.

Garbage-collection callbacks and signal handlers walk every container while the
module builds its results; daemon threads are inside an operation, at each point
where Python code runs, when the program ends; another thread forks while a load
waits; and each C++ allocation of an operation fails in turn. A regression crashes
or hangs, so each scenario (adversary_children.py) runs in a child interpreter in
a session of its own, whose whole process group is killed however the test ends.
"""

import adversary_children as scenarios
import pytest


@pytest.fixture
def scenario(children, tmp_path):
    """Runs a scenario with its arguments in a child interpreter in tmp_path and returns its
    stdout. The child must exit with status 0 and write nothing to stderr."""

    def run(name, *arguments, env=None):
        out, err = children.run(scenarios.LAUNCH, name, *arguments, cwd=tmp_path, env=env, timeout=300)
        assert err == "", err
        return out

    return run


def each(table):
    return pytest.mark.parametrize("name", list(table))


def plays(scenario_name, table):
    """A test that plays the scenario with each name of its table in turn."""

    @each(table)
    def test(scenario, name):
        scenario(scenario_name, name)

    return test


test_gc_callbacks_walking_every_container = plays("gc_walker", scenarios.OPERATIONS)
test_signal_handlers_walking_every_container = plays("signal_walker", scenarios.LONG_OPERATIONS)
test_a_daemon_thread_in_a_load_when_the_program_ends = plays("daemon_in_a_load", scenarios.BLOCKING_POINTS)
test_a_daemon_thread_ended_where_python_code_runs = plays("ended_at_point", scenarios.POINTS)
test_fork_while_another_thread_loads = plays("fork_while_loading", scenarios.FORK_POINTS)


@each(scenarios.OPERATIONS)
def test_a_daemon_thread_ended_at_each_collection_of_an_operation(scenario, name):
    if scenarios.SANITIZED and name in scenarios.UNWOUND_BY_THE_BINDING_LIBRARY:
        pytest.skip("AddressSanitizer takes the stack of a thread that pthread_exit unwound for overflowed")
    # How many collections inside the module the thread was ended at: count_nan makes no
    # object that the collector tracks.
    assert (int(scenario("ended_at_each_collection", name)) > 0) == (name != "count_nan")


def test_fork_inside_an_operation_keeps_the_frame_busy_in_the_child(scenario):
    scenario("fork_inside_an_operation")


@each(scenarios.SWEPT)
def test_each_allocation_of_an_operation_failing_in_turn(scenario, fault_shim_env, name):
    # Each operation allocates at least its argument or its result.
    assert int(scenario("allocation_sweep", name, env=fault_shim_env)) > 0
