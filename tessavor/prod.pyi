"""Prod: a client object over a production tracker, reached through gazu.

The record types below (the names starting with an underscore) exist for
type checkers only: annotate with them under ``typing.TYPE_CHECKING``. Their
fields are those the tracker server (zou) serves; required keys are the
fields every row of a listing has, with the types of a record the server
created with its defaults.
"""

import os
from typing import Any, Iterable, Literal, Protocol, TypedDict, TypeVar, Union

class _Container(Protocol):
    """What Filter's ``part in item`` needs of an item: a ``__contains__``."""
    def __contains__(self, part: Any, /) -> bool: ...

_Item = TypeVar("_Item", bound=_Container)

# Anything the built-in open() accepts as a file.
_File = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]", int]

# -- projects ---------------------------------------------------------------

class _ProjectCreated(TypedDict, total=False):
    # Only in the answer of the route that created the project.
    team: list[str]
    asset_types: list[str]
    task_types: list[str]
    task_statuses: list[str]
    status_automations: list[str]
    preview_background_files: list[str]
    first_episode_id: str  # a TV show's first episode

class _Project(_ProjectCreated):
    id: str
    type: Literal["Project"]
    created_at: str
    updated_at: str
    name: str
    code: str | None
    description: str | None
    shotgun_id: int | None
    file_tree: dict[str, Any] | None
    data: dict[str, Any] | None
    has_avatar: bool
    fps: str
    ratio: str
    resolution: str
    production_type: str
    production_style: str
    start_date: str | None
    end_date: str | None
    man_days: int | None
    nb_episodes: int
    episode_span: int
    max_retakes: int
    is_clients_isolated: bool
    is_client_stats_visible: bool
    is_client_task_list_visible: bool
    is_client_task_panel_visible: bool
    is_preview_download_allowed: bool
    is_set_preview_automated: bool
    homepage: str
    is_publish_default_for_artists: bool
    is_bot_collaboration_enabled: bool
    is_single_preview_per_revision: bool
    is_frame_in_numbering: bool
    revision_padding: int
    hd_bitrate_compression: int | None
    ld_bitrate_compression: int | None
    project_status_id: str | None
    default_preview_background_file_id: str | None
    from_schedule_version_id: str | None

# -- episodes, sequences and shots ------------------------------------------

class _Entity(TypedDict):
    id: str
    created_at: str
    updated_at: str
    name: str
    code: str | None
    description: str | None  # null for a new shot, "" for a new episode or sequence
    shotgun_id: int | None
    canceled: bool
    nb_frames: int | None
    nb_entities_out: int
    is_casting_standby: bool
    is_shared: bool
    status: str
    project_id: str
    entity_type_id: str
    parent_id: str | None  # a sequence's episode, a shot's sequence
    source_id: str | None
    preview_file_id: str | None
    data: dict[str, Any]
    ready_for: str | None
    created_by: str | None

class _Episode(_Entity):
    type: Literal["Episode"]

class _Sequence(_Entity):
    type: Literal["Sequence"]

class _Shot(_Entity):
    type: Literal["Shot"]

# -- persons ----------------------------------------------------------------

class _PersonCreated(TypedDict, total=False):
    departments: list[str]  # only in the answer of the creating route

class _Person(_PersonCreated):
    id: str
    type: Literal["Person"]
    created_at: str
    updated_at: str
    first_name: str
    last_name: str
    full_name: str
    email: str | None
    phone: str
    country: str | None
    contract_type: str
    active: bool
    archived: bool
    last_presence: str | None
    desktop_login: str
    totp_enabled: bool
    email_otp_enabled: bool
    fido_enabled: bool
    preferred_two_factor_authentication: str | None
    shotgun_id: int | None
    timezone: str
    locale: str
    data: dict[str, Any] | None
    role: str
    position: str
    seniority: str
    daily_salary: int
    has_avatar: bool
    notifications_enabled: bool
    notifications_slack_enabled: bool
    notifications_slack_userid: str
    notifications_mattermost_enabled: bool
    notifications_mattermost_userid: str
    notifications_discord_enabled: bool
    notifications_discord_userid: str
    is_bot: bool
    is_guest: bool
    expiration_date: str | None
    studio_id: str | None
    is_generated_from_ldap: bool
    ldap_uid: str | None
    display_date_format: str
    use_12_hour_clock: bool
    preview_project_id: str | None
    preview_opened_at: str | None
    preview_open_until: str | None

# -- tasks ------------------------------------------------------------------

class _TaskRow(TypedDict):
    id: str
    type: Literal["Task"]
    created_at: str
    updated_at: str
    name: str
    description: str | None
    priority: int
    difficulty: int
    duration: float
    estimation: float
    completion_rate: int
    retake_count: int
    sort_order: int
    start_date: str | None
    due_date: str | None
    real_start_date: str | None
    end_date: str | None
    done_date: str | None
    last_comment_date: str | None
    nb_assets_ready: int
    nb_drawings: int
    data: dict[str, Any] | None
    shotgun_id: int | None
    last_preview_file_id: str | None
    project_id: str
    task_type_id: str
    task_status_id: str
    entity_id: str
    assigner_id: str | None

class _Task(_TaskRow, total=False):
    assignees: list[str]  # only in the answer of the creating route

class _TodoTask(_TaskRow):
    """A row of the user's to-do list: the task with its context by name."""

    assignees: list[str]
    project_name: str
    project_has_avatar: bool
    entity_name: str
    entity_description: str | None
    entity_data: dict[str, Any] | None
    entity_canceled: bool
    entity_preview_file_id: str  # "" when it has none
    entity_source_id: str  # "" when it has none
    entity_type_name: str
    sequence_name: str | None
    episode_id: str  # "" when the shot is in no episode
    episode_name: str | None
    task_type_name: str
    task_type_color: str
    task_type_for_entity: str
    task_status_name: str
    task_status_short_name: str
    task_status_color: str
    task_due_date: str | None
    task_start_date: str | None
    task_estimation: float
    task_duration: float
    last_comment: dict[str, Any]

class Prod:
    """A client of one production tracker, through the gazu package.

    Constructing one reads a JSON credentials file (host_url, event_url,
    login_id, password), points gazu at the tracker and logs in. gazu keeps
    one login for the whole process: the last Prod constructed decides it
    for every Prod. The tracker methods ask gazu once or twice and return
    what the tracker answers, or the names in it; Filter and load_json ask
    nothing. Network failures raise requests' exceptions
    (requests.exceptions.ConnectionError, ...), the tracker's refusals
    gazu.exception's.
    """

    crenditial: dict[str, Any]
    host_url: str
    event_url: str
    login_id: str
    password: str
    def __init__(self, crenditial: _File) -> None:
        """Reads the credentials file `crenditial` and logs in.

        Calls load_json(crenditial), keeps the record as self.crenditial
        and its four values as attributes, then gazu.set_host(host_url),
        gazu.set_event_host(event_url) and gazu.log_in(login_id, password),
        which change gazu's login for the whole process.

        Raises OSError (FileNotFoundError, ...) or json.JSONDecodeError
        from load_json; TypeError when the file holds no JSON object;
        KeyError naming a missing key;
        gazu.exception.AuthFailedException for a wrong login or password;
        gazu.exception.RouteNotFoundException when host_url is not the
        API's address (such as one without the /api the API is served under);
        requests.exceptions.ConnectionError when nothing answers there.
        """
    def load_json(self, json_file: _File) -> Any:
        """Returns the JSON value in the file `json_file`, read as open() reads it.

        Asks nothing of the tracker. Raises OSError (FileNotFoundError, ...)
        from open() and json.JSONDecodeError for a file that is not JSON.
        """
    def get_tasks(self) -> list[_TodoTask]:
        """The logged-in user's to-do list: gazu.user.all_tasks_to_do().

        Returns the open tasks assigned to the user, in open projects whose
        team the user is on, each with its project, entity, type and status
        by name.
        """
    def get_persons(self) -> list[_Person]:
        """Every person on the tracker: gazu.person.all_persons()."""
    def get_projects(self) -> list[str]:
        """The names of the tracker's projects: gazu.project.all_projects()."""
    def get_episodes(self, project_name: str) -> list[str]:
        """The names of a project's episodes.

        Looks the project up with gazu.project.get_project_by_name, then
        lists gazu.shot.all_episodes_for_project. Names match as
        get_project's do. An unknown project raises TypeError
        ("'NoneType' object is not subscriptable") from inside gazu.
        """
    def get_sequences(self, project_name: str) -> list[str]:
        """The names of a project's sequences.

        Looks the project up with gazu.project.get_project_by_name, then
        lists gazu.shot.all_sequences_for_project. An unknown project
        raises TypeError ("'NoneType' object is not subscriptable") from
        inside gazu.
        """
    def get_shots(self, project_name: str) -> list[str]:
        """The names of a project's shots, of all its sequences.

        Looks the project up with gazu.project.get_project_by_name, then
        lists gazu.shot.all_shots_for_project. An unknown project raises
        TypeError ("'NoneType' object is not subscriptable") from inside
        gazu.
        """
    def get_person_by_name(self, person_name: str) -> _Person | None:
        """The person whose full name is exactly `person_name`, or None.

        Asks gazu.person.get_person_by_full_name(person_name); case counts,
        and bots are never found.
        """
    def get_project(self, project_name: str) -> _Project | None:
        """The project named `project_name`, or None when there is none.

        Asks gazu.project.get_project_by_name(project_name). The tracker
        compares names as SQL's ILIKE does: case aside, with _ and % as
        wildcards; the first match is returned.
        """
    def Filter(self: Prod | None, string: Iterable[_Item], substr: Iterable[object]) -> list[_Item]:
        """The items of `string` that contain at least one part of `substr`.

        A list, in the order of `string`, of each item for which some
        ``part in item`` holds. Asks nothing of the tracker, so it may be
        called on the class with None for self:
        ``Prod.Filter(None, names, parts)``. Each item is a container,
        anything with ``__contains__`` (a str, bytes, a tuple, a set, ...).
        Raises what iterating the arguments or the ``in`` test raises
        (TypeError for a non-str part in a str).
        """
