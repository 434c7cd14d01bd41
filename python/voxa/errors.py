"""The exception raised for every failed call."""

ERR_BOARD_ID = -10
ERR_SOFT_QUEUE = -11
ERR_NO_SLOT = -20
ERR_NOT_OPEN = -21
ERR_OPEN = -30
ERR_CONFIG_SAVE = -40
ERR_CONFIG_LOAD = -41
ERR_ARGUMENT = -50


def error_text(code):
    """The library's short meaning of an error code."""
    from ._lib import voxa_library

    text = voxa_library().VOXA_Get_ErrText(int(code))
    return text.decode("utf-8", "replace") if text else "unknown error code"


class VoxaError(Exception):
    """A call the library refused or that failed.

    code: the library's error code (VOXA_Get_LastErr), e.g. -50.
    meaning: its text (VOXA_Get_ErrText).
    function: the export that failed, when known.
    detail: what the Python side adds, when anything.
    """

    def __init__(self, code, function=None, detail=None):
        self.code = int(code)
        self.function = function
        self.detail = detail
        try:
            self.meaning = error_text(self.code)
        except OSError:
            self.meaning = "unknown error code"
        text = f"error {self.code}: {self.meaning}"
        if detail:
            text += f" ({detail})"
        if function:
            text = f"{function}: {text}"
        super().__init__(text)
