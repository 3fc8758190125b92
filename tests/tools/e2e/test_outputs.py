"""Where outputs go: failed writes say why, FIFOs and devices are written
into, long names work, and an integer output refuses a NaN background."""

import os
import resource
import signal
import stat
import subprocess
import sys
import threading

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import PROGRAM, ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402


def small_file_limit():
    """In the child: files may not grow past 100 bytes, and a write that
    would fails with EFBIG instead of killing the program."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))


class Outputs(ProgramTest):
    def setUp(self):
        super().setUp()
        data = np.arange(40 * 30 * 20, dtype=np.int16).reshape((40, 30, 20), order="F")
        self.image = niftiwrite.write_nii(self.path("img.nii"), data, 4)

    def slice_args(self, out):
        return ("slice", self.image, "--axial", "3", "-o", out)

    def reslice_args(self, out):
        return ("reslice", self.image, "--like", self.image, "-o", out)

    def test_failed_writes_say_why_for_every_format(self):
        for name, args in (("o.nii", self.reslice_args), ("o.nii.gz", self.reslice_args),
                           ("o.png", self.slice_args), ("o.npy", self.slice_args)):
            with self.subTest(output=name):
                out = self.path(name)
                p = subprocess.run([PROGRAM, *args(out)], capture_output=True, text=True, timeout=60,
                                   preexec_fn=small_file_limit)
                self.assertEqual(p.returncode, 1, p.stderr)
                self.assertEqual(p.stderr, f"volaccess: {out}: cannot write: File too large\n")
                self.assertEqual(os.listdir(self.dir), ["img.nii"])

    def test_full_standard_output_says_why(self):
        for args in (("info", self.image), ("sample", self.image)):
            with self.subTest(command=args[0]):
                with open("/dev/full", "w") as full:
                    p = subprocess.run([PROGRAM, *args], input="1 1 1\n", stdout=full, stderr=subprocess.PIPE,
                                       text=True, timeout=60)
                self.assertEqual(p.returncode, 1, p.stderr)
                self.assertTrue(p.stderr.endswith("volaccess: standard output: cannot write: No space left on device\n"),
                                p.stderr)

    def test_fifo_output_is_written_into_and_stays_a_fifo(self):
        expected = self.path("plain.npy")
        self.ok(*self.slice_args(expected))
        fifo = self.path("pipe.npy")
        os.mkfifo(fifo)
        received = []
        reader = threading.Thread(target=lambda: received.append(open(fifo, "rb").read()))
        reader.start()
        self.ok(*self.slice_args(fifo))
        reader.join(60)
        self.assertEqual(received, [open(expected, "rb").read()])
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        self.assertEqual(sorted(os.listdir(self.dir)), ["img.nii", "pipe.npy", "plain.npy"])

    def test_character_devices_are_written_into_not_replaced(self):
        null = self.path("null.png")
        os.symlink("/dev/null", null)
        self.ok(*self.slice_args(null))
        self.assertEqual(os.readlink(null), "/dev/null")
        full = self.path("full.nii.gz")
        os.symlink("/dev/full", full)
        self.assertEqual(self.fails(*self.reslice_args(full)),
                         f"volaccess: {full}: cannot write: No space left on device")
        self.assertEqual(os.readlink(full), "/dev/full")
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))

    def test_output_names_of_255_bytes_work(self):
        for args, suffix in ((self.slice_args, ".npy"), (self.reslice_args, ".nii.gz")):
            with self.subTest(suffix=suffix):
                out = self.path("n" * (255 - len(suffix)) + suffix)
                self.ok(*args(out))
                self.assertTrue(os.path.isfile(out))
                os.unlink(out)
                self.assertEqual(os.listdir(self.dir), ["img.nii"])

    def test_nan_background_is_refused_for_integer_outputs(self):
        out = self.path("o.nii")
        self.assertEqual(self.fails(*self.reslice_args(out), "--datatype", "source", "--background", "nan"),
                         f"volaccess: {out}: the background nan cannot be stored in int16: give --background a "
                         "number, or --datatype float32")
        self.assertEqual(os.listdir(self.dir), ["img.nii"])
        self.ok(*self.reslice_args(out), "--background", "nan")


if __name__ == "__main__":
    main_if_run()
