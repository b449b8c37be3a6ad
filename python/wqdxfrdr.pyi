# Types of the wqdxfrdr module (python/module.cpp) for type checkers and editors; installed
# beside the module.
import os
from types import TracebackType
from typing import BinaryIO, Iterator, Literal, NamedTuple, Optional, Union

__version__: str
plugin_path: str
plugin_version: int

Source = Union[str, os.PathLike[str], os.PathLike[bytes], bytes, bytearray, memoryview, BinaryIO]
Status = Literal["ok", "recovered", "refused", "failed", "timeout"]
Metadata = dict[str, Union[str, dict[str, str]]]

class Insert(NamedTuple):
    """The INSERT an ATTRIB follows: its handle and the block it inserts."""
    handle: Optional[str]
    block: Optional[str]

class Entity:
    """One text entity of a drawing, with the fields of dxftext's JSON Lines entity object."""
    @property
    def kind(self) -> str: ...
    @property
    def source(self) -> Literal["plugin", "host"]: ...
    @property
    def texts(self) -> list[str]: ...
    @property
    def layer(self) -> Optional[str]: ...
    @property
    def handle(self) -> Optional[str]: ...
    @property
    def block(self) -> Optional[str]: ...
    @property
    def space(self) -> Optional[Literal["model", "paper"]]: ...
    @property
    def tag(self) -> Optional[str]: ...
    @property
    def insert(self) -> Optional[Insert]: ...
    @property
    def position(self) -> Optional[tuple[float, float, float]]: ...
    def as_dict(self) -> dict[str, object]:
        """The fields valued as json.loads reads dxftext's entity object."""

class Document:
    """A drawing being read: an iterator of its entities and a context manager."""
    def __iter__(self) -> Iterator[Entity]: ...
    def __next__(self) -> Entity: ...
    def __enter__(self) -> "Document": ...
    def __exit__(
        self,
        type: Optional[type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> Literal[False]: ...
    def close(self) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def status(self) -> Status: ...
    @property
    def message(self) -> str: ...
    @property
    def entities(self) -> int: ...
    @property
    def texts(self) -> int: ...
    @property
    def recoveries(self) -> int: ...
    @property
    def salvaged(self) -> int: ...
    @property
    def metadata(self) -> Metadata: ...
    def fields(self) -> dict[str, list[str]]:
        """Each ATTRIB's tag -> its values; raises DocumentError for a failed document."""

class DocumentError(Exception):
    """A document that was not read to its end, raised where its text is asked for."""
    name: str
    status: Literal["refused", "failed", "timeout"]
    message: str
    def __init__(self, name: str, status: str, message: str) -> None: ...

class DocumentRefusedError(DocumentError): ...
class DocumentFailedError(DocumentError): ...
class DocumentTimeoutError(DocumentError): ...

def read(
    source: Source,
    *,
    encoding: str = "auto",
    plugin_only: bool = False,
    strict: bool = False,
    timeout: Optional[float] = None,
) -> Document:
    """Opens a drawing for reading; its failures show in Document.status."""

def text(
    source: Source,
    *,
    encoding: str = "auto",
    plugin_only: bool = False,
    strict: bool = False,
    timeout: Optional[float] = None,
) -> str:
    """All the text of a drawing, one value a line; raises DocumentError when it failed."""
