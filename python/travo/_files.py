"""Writing output files safely: whole or not at all, never replacing what is not a regular file.

Every file that the export and the report write goes through here:

- a regular file (new or existing) is written to a temporary file beside it,
  ``.NAME.part-XXXXXX``, and renamed over it only once all of it is written;
  a replaced file keeps its mode and, where the user may set them, its owner
  and group; a new file gets the mode the umask allows (0644 under the
  usual umask 022);
- a symbolic link is written through: the file it leads to is replaced (or
  created where a dangling link points), the link itself stays;
- a device, pipe or socket (``/dev/null``, a FIFO, ``/dev/stdout``,
  ``/dev/fd/N``) is written in place and never replaced; the standard
  streams and ``/dev/fd/N`` are written through the descriptor the process
  already holds, so that the caller's redirection (appending, say) holds;
- a folder, or a file the user may not write, is refused;
- on any failure (a full disk, a file-size limit, Ctrl-C, SIGTERM or SIGHUP
  while ``signals_cleaned()`` is active) the temporaries are removed and the
  targets are left as they were.

``Batch`` stages several files and renames them all only when every one was
written, so a report or an export folder is never left half-written.
"""

from __future__ import annotations

import contextlib
import errno
import os
import signal
import stat
import sys
import tempfile
import threading
from collections.abc import Iterator

_DESCRIPTOR_PREFIXES = ("/dev/fd/", "/proc/self/fd/")


def _umask() -> int:
    try:
        with open("/proc/self/status", encoding="ascii") as f:
            for line in f:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    mask = os.umask(0o022)  # no other way to read it; set back at once
    os.umask(mask)
    return mask


def _descriptor(path: str) -> int | None:
    """The descriptor that a path such as /dev/stdout or /dev/fd/3 names, or None."""
    if path == "/dev/stdout":
        return 1
    if path == "/dev/stderr":
        return 2
    for prefix in _DESCRIPTOR_PREFIXES:
        rest = path[len(prefix):]
        if path.startswith(prefix) and rest.isdigit() and len(rest) < 9:
            return int(rest)
    return None


def _error(path: str, err: int, what: str = "cannot write") -> OSError:
    return OSError(err, f"{what} {path}: {os.strerror(err)}")


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


class _Staged:
    """One output: where it goes and, for a regular file, the temporary holding its content."""

    def __init__(self, path: str | os.PathLike, data: bytes) -> None:
        self.path = os.fspath(path)
        self.data = data
        self.fd: int | None = None  # a descriptor to write in place
        self.device: str | None = None  # a non-regular file to open and write in place
        self.target: str | None = None  # the regular file to replace or create
        self.temp: str | None = None
        self.keep: os.stat_result | None = None  # the replaced file's mode and owner
        fd = _descriptor(self.path)
        if fd is not None:
            try:
                os.fstat(fd)
            except OSError as e:
                raise _error(self.path, e.errno or errno.EBADF) from None
            self.fd = fd
            return
        try:
            st = os.stat(self.path)
        except FileNotFoundError:
            st = None
        except OSError as e:
            raise _error(self.path, e.errno or errno.EIO) from None
        if st is not None:
            if stat.S_ISDIR(st.st_mode):
                raise _error(self.path, errno.EISDIR)
            if not os.access(self.path, os.W_OK):
                raise _error(self.path, errno.EACCES)
            if not stat.S_ISREG(st.st_mode):
                self.device = self.path
                return
            self.target = os.path.realpath(self.path)
            self.keep = st
        else:
            self.target = self._through_links(self.path)
        self._stage()

    @staticmethod
    def _through_links(path: str) -> str:
        """Where a new file named by ``path`` goes: at the end of its chain of (dangling) links."""
        for _ in range(40):
            try:
                if not stat.S_ISLNK(os.lstat(path).st_mode):
                    return path
            except FileNotFoundError:
                return path
            to = os.readlink(path)
            path = to if os.path.isabs(to) else os.path.join(os.path.dirname(path), to)
        raise _error(path, errno.ELOOP)

    def _stage(self) -> None:
        assert self.target is not None
        folder, name = os.path.split(self.target)
        try:
            fd, self.temp = tempfile.mkstemp(dir=folder or ".", prefix=f".{name}.part-")
        except OSError as e:
            raise _error(self.path, e.errno or errno.EIO) from None
        try:
            try:
                _write_all(fd, self.data)
                if self.keep is not None:
                    try:
                        os.fchown(fd, self.keep.st_uid, self.keep.st_gid)
                    except PermissionError:  # not ours to give away: keep the group at least, if we may
                        with contextlib.suppress(PermissionError):
                            os.fchown(fd, -1, self.keep.st_gid)
                    os.fchmod(fd, stat.S_IMODE(self.keep.st_mode))
                else:
                    os.fchmod(fd, 0o666 & ~_umask())
            finally:
                os.close(fd)
        except OSError as e:
            self.discard()
            raise _error(self.path, e.errno or errno.EIO) from None
        except BaseException:
            self.discard()
            raise

    def commit(self) -> None:
        try:
            if self.fd is not None:
                for stream in (sys.stdout, sys.stderr):  # what Python holds for the descriptor goes first
                    with contextlib.suppress(Exception):
                        stream.flush()
                _write_all(self.fd, self.data)
            elif self.device is not None:
                fd = os.open(self.device, os.O_WRONLY | os.O_NOCTTY | os.O_CLOEXEC)
                try:
                    _write_all(fd, self.data)
                finally:
                    os.close(fd)
            else:
                assert self.temp is not None and self.target is not None
                os.rename(self.temp, self.target)
                self.temp = None
        except OSError as e:
            raise _error(self.path, e.errno or errno.EIO) from None

    def discard(self) -> None:
        if self.temp is not None:
            with contextlib.suppress(OSError):
                os.unlink(self.temp)
            self.temp = None


class Batch:
    """Files written together: each is staged as it is added; all are committed when the ``with`` block
    ends without an error, and none otherwise (their temporaries are removed)."""

    def __init__(self) -> None:
        self._staged: list[_Staged] = []
        self._paths: set[str] = set()

    def add(self, path: str | os.PathLike, data: bytes | str) -> None:
        key = os.path.abspath(os.fspath(path))
        if key in self._paths:
            raise ValueError(f"{os.fspath(path)} would be written twice")
        self._staged.append(_Staged(path, data.encode("utf-8") if isinstance(data, str) else data))
        self._paths.add(key)

    def commit(self) -> None:
        try:
            while self._staged:
                self._staged[0].commit()
                self._staged.pop(0)
        finally:
            self.discard()

    def discard(self) -> None:
        for s in self._staged:
            s.discard()
        self._staged.clear()

    def __enter__(self) -> Batch:
        return self

    def __exit__(self, kind, value, tb) -> None:
        if kind is None:
            self.commit()
        else:
            self.discard()


def write(path: str | os.PathLike, data: bytes | str) -> None:
    """Writes one file whole (see the module's rules)."""
    with Batch() as b:
        b.add(path, data)


def make_folder(path: str | os.PathLike) -> list[str]:
    """Creates a folder and its missing parents; returns those it created (outermost first), so that a
    failed writer can remove them again with ``remove_folders``."""
    path = os.path.abspath(os.fspath(path))
    missing = []
    p = path
    while not os.path.lexists(p):
        missing.append(p)
        p = os.path.dirname(p)
    made: list[str] = []
    try:
        for q in reversed(missing):
            os.mkdir(q)
            made.append(q)
    except OSError as e:
        remove_folders(made)
        raise _error(path, e.errno or errno.EIO, "cannot create the folder") from None
    if not os.path.isdir(path):
        raise _error(path, errno.ENOTDIR, "cannot create the folder")
    return made


def remove_folders(made: list[str]) -> None:
    """Removes the folders ``make_folder`` created, where they are still empty."""
    for p in reversed(made):
        with contextlib.suppress(OSError):
            os.rmdir(p)


class _Terminated(BaseException):
    pass


@contextlib.contextmanager
def signals_cleaned() -> Iterator[None]:
    """Within the block, SIGTERM and SIGHUP raise an exception (so that temporaries are removed as on any
    failure) and then end the process by the same signal. Only in the main thread; elsewhere a no-op."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    caught: list[int] = []

    def handler(sig, frame):
        caught.append(sig)
        raise _Terminated()

    old = {}
    for sig in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(sig) == signal.SIG_DFL:
            old[sig] = signal.signal(sig, handler)
    try:
        yield
    except _Terminated:
        pass
    finally:
        for sig, h in old.items():
            signal.signal(sig, h)
    if caught:
        os.kill(os.getpid(), caught[0])
