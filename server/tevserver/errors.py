"""The one error type that travels back to the client as a reply's "error" text,
and the text of any exception for a reply or a log line."""


class RequestError(ValueError):
    """A request the server understood well enough to refuse; str(e) is the reply's "error"."""


def describe(e):
    """'Type: message', never with an empty message (some exceptions carry none)."""
    text = str(e).strip()
    return f"{type(e).__name__}: {text}" if text else f"{type(e).__name__} (raised without a message)"
