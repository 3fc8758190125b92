"""The program started the way shells and scripts may start it: points from
a FIFO whose writer comes later, standard descriptors closed."""

import os
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import PROGRAM, ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402


class Environment(ProgramTest):
    def image(self):
        data = np.arange(24, dtype=np.int16).reshape((4, 3, 2), order="F")
        return niftiwrite.write_nii(self.path("img.nii"), data, 4)

    def test_points_from_a_fifo_wait_for_its_writer(self):
        image = self.image()
        fifo = self.path("points")
        os.mkfifo(fifo)
        p = subprocess.Popen([PROGRAM, "sample", image, "--points", fifo], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        time.sleep(0.3)  # the writer comes late: the program must still be waiting
        with open(fifo, "w") as f:
            f.write("2 3 2\n")
        out, err = p.communicate(timeout=60)
        self.assertEqual((p.returncode, out, err), (0, "21\n", ""))

    def run_closed(self, fd, *args):
        """Runs the program with descriptor `fd` closed."""
        p = subprocess.run([PROGRAM, *args], capture_output=True, text=True, timeout=60,
                           preexec_fn=lambda: os.close(fd))
        return p.returncode, p.stdout, p.stderr

    def test_closed_standard_descriptors_are_not_taken_by_files(self):
        # Without care the image took the closed descriptor: its header was
        # read as points (0), and the output went into it (1). Output that
        # cannot reach a closed standard output fails the run.
        image = self.image()
        with open(image, "rb") as f:
            before = f.read()
        for fd, args, status, out in ((0, ("sample", image), 0, ""), (1, ("info", image), 1, ""),
                                      (2, ("sample", image, "--points", self.path("none")), 1, "")):
            with self.subTest(fd=fd):
                code, stdout, stderr = self.run_closed(fd, *args)
                self.assertEqual((code, stdout), (status, out), stderr)
                with open(image, "rb") as f:
                    self.assertEqual(f.read(), before)


if __name__ == "__main__":
    main_if_run()
