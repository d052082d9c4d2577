"""mint.uuids releases the GIL while it derives, so other threads go on.

No clock is read: the switch interval is made so long that the interpreter
never takes the GIL from a running thread by itself during the test. A
thread that wakes while the main thread holds the GIL can then only run when
the main thread gives the GIL up, which a call into C does only if it
releases it. The helper thread is woken just before the call and records
whether it ran before the main thread looked again, right after the call.
"""
import sys
import threading
import unittest

import mint
from test_uuid import JANE

ROWS = 200_000
ATTEMPTS = 20


class GilReleased(unittest.TestCase):
    def setUp(self):
        self.columns = {name: [value] * ROWS for name, value in JANE.items()}
        self.interval = sys.getswitchinterval()
        sys.setswitchinterval(1000.0)

    def tearDown(self):
        sys.setswitchinterval(self.interval)

    def ran_during(self, call):
        """Whether a thread woken just before `call` ran before it returned."""
        go = threading.Lock()
        go.acquire()
        done = threading.Lock()
        done.acquire()
        ran = []

        def helper():
            go.acquire()       # waits without the GIL
            ran.append(True)   # needs the GIL
            done.acquire()     # waits without the GIL again, giving it back

        thread = threading.Thread(target=helper)
        thread.start()
        go.release()           # the helper wakes and waits for the GIL
        call()
        ran_during_call = bool(ran)  # read before anything can give the GIL up
        done.release()
        thread.join()
        return ran_during_call

    def test_another_thread_runs_during_a_big_call(self):
        # The helper thread must also be scheduled by the system in time; a
        # few attempts make a busy machine harmless.
        self.assertTrue(any(self.ran_during(lambda: mint.uuids(self.columns)) for _ in range(ATTEMPTS)))

    def test_the_check_sees_a_call_that_keeps_the_gil(self):
        # A C call that holds the GIL throughout (sorting a long list of
        # ints) leaves the helper waiting: the check can fail.
        numbers = list(range(ROWS * 5, 0, -1))
        self.assertFalse(any(self.ran_during(lambda: sorted(numbers)) for _ in range(3)))


if __name__ == "__main__":
    unittest.main()
