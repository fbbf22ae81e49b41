"""The one error type that travels back to the client as a reply's "error" text."""


class RequestError(ValueError):
    """A request the server understood well enough to refuse; str(e) is the reply's "error"."""
