"""The one error type that travels back to the client as a reply's "error" text,
and the text of any exception for a reply or a log line."""


class RequestError(ValueError):
    """A request the server understood well enough to refuse; str(e) is the reply's "error"."""


def describe(e):
    """'Type: message', never with an empty message (some exceptions carry none)."""
    text = str(e).strip()
    return f"{type(e).__name__}: {text}" if text else f"{type(e).__name__} (raised without a message)"


# Characters of one line of the plug-in's failure overlay on a 1920-pixel frame.
OVERLAY_CHARACTERS = 94


def one_line(text, limit=OVERLAY_CHARACTERS):
    """text on one line (runs of white space made one space), cut to limit characters."""
    text = " ".join(str(text).split())
    return text if len(text) <= limit else text[:limit - 3].rstrip() + "..."
