"""Where a server started in the background logs when no --log is given: a folder
that no other user controls, never a name in a shared folder that anyone could
create first.

    path = default_log_path(port)    # .../tevserver-PORT.log; OSError says why not
    check_log_file(path)             # OSError when path is a link (it is not followed)

The folder is $XDG_RUNTIME_DIR when it is set and private; else "tevserver-UID"
in the temporary folder ($TMPDIR, else /tmp), created with mode 0700. A folder is
private when it is a directory (not a link to one) of this user that no group or
other user may enter. A "tevserver-UID" that is anything else (a link, another
user's, open to others) was put there by someone else: it is left alone and the
log goes to a fresh private folder of an unpredictable name instead.
"""
import os
import stat
import sys
import tempfile


def _private_folder_problem(path):
    """None when path is a private folder of this user, else what is wrong with it."""
    try:
        st = os.lstat(path)
    except OSError as e:
        return e.strerror or str(e)
    if stat.S_ISLNK(st.st_mode):
        return "it is a symbolic link"
    if not stat.S_ISDIR(st.st_mode):
        return "it is not a folder"
    if st.st_uid != os.getuid():
        return f"it belongs to user id {st.st_uid}, not {os.getuid()}"
    if st.st_mode & 0o077:
        return f"others may enter it (mode {stat.S_IMODE(st.st_mode):04o})"
    return None


def private_folder():
    """A folder for this user's logs that no other user controls (see the module's text)."""
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if os.path.isabs(runtime) and _private_folder_problem(runtime) is None:
        return runtime
    folder = os.path.join(tempfile.gettempdir(), f"tevserver-{os.getuid()}")
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass
    problem = _private_folder_problem(folder)
    if problem is None:
        return folder
    fresh = tempfile.mkdtemp(prefix=f"tevserver-{os.getuid()}-")
    print(f"tevserver: not using {folder} for the log: {problem}; logging in {fresh} instead",
          file=sys.stderr)
    return fresh


def default_log_path(port):
    return os.path.join(private_folder(), f"tevserver-{port}.log")


def check_log_file(path, nofollow=False):
    """Creates the log file when missing (mode 0600 for a new one) and checks that it can
    be appended to; with nofollow, a symbolic link in its place is refused, not followed."""
    flags = os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC | (os.O_NOFOLLOW if nofollow else 0)
    try:
        os.close(os.open(path, flags, 0o600))
    except OSError as e:
        if nofollow and os.path.islink(path):
            raise OSError(e.errno, "it is a symbolic link, which is not followed") from None
        raise
