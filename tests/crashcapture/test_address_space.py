"""A 32-bit host that has used up its address space, then faults: the crash worker made at Init
still writes and sends the report. Only a 32-bit host can use its address space up, so this driver
runs in the emulated 32-bit machine."""
import vxtest
from vxtest.crash_case import FILTER_MEMORY, CrashCase


class AddressSpace(CrashCase):

    def test_fault_after_the_address_space_is_used_up_is_reported(self):
        r = self.run_crash(["init", "ids", "hook", "noaddressspace", "av"])
        if r.values("address_space_used_up") != [1]:
            self.skipTest("the host could not use its address space up (a 64-bit host?)")
        self.assert_report(r, FILTER_MEMORY)


if __name__ == "__main__":
    vxtest.main()
