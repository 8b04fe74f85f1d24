import json as json
import os
from typing import Any, Iterable, TypeVar, Union

import gazu as gazu

_Item = TypeVar("_Item")

# Anything the built-in open() accepts as a file.
_File = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]", int]

__test__: dict[Any, Any]

class Prod:
    crenditial: Any
    host_url: Any
    event_url: Any
    login_id: Any
    password: Any
    def __init__(self, crenditial: _File) -> None: ...
    def load_json(self, json_file: _File) -> Any: ...
    def get_tasks(self) -> Any: ...
    def get_persons(self) -> Any: ...
    def get_projects(self) -> list[Any]: ...
    def get_episodes(self, project_name: Any) -> list[Any]:
        """
        Get all episode names for a given project.

        Args:
            project_name (str): The name of the project.

        Returns:
            list: A list of episode names.
        """
    def get_sequences(self, project_name: Any) -> list[Any]: ...
    def get_shots(self, project_name: Any) -> list[Any]:
        """
        Get all shot names for a given project.

        Args:
            project_name (str): The name of the project.

        Returns:
            list: A list of shot names.
        """
    def get_person_by_name(self, person_name: Any) -> Any:
        """
        Get a person by their full name.

        Args:
            person_name (str): The full name of the person.

        Returns:
            dict: The person data.
        """
    def get_project(self, project_name: Any) -> Any: ...
    def Filter(self, string: Iterable[_Item], substr: Iterable[Any]) -> list[_Item]: ...
