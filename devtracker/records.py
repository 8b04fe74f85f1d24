"""The shapes of devtracker's records, as the real tracker server answers them.

Each kind has the fields of its rows in list routes, with the value a new
record gets when the creating request does not set it, and the further
fields that only the creating route's answer carries. The real server's
reference data that gazu looks up by name (task types, task statuses,
project statuses, entity types) is here too, with fixed ids.
"""

import datetime
import uuid

# Fields of a row in a list route, with the default of a new record; None
# for "id", "created_at" and "updated_at", which are filled at creation.
_COMMON = {"id": None, "created_at": None, "updated_at": None}

PROJECT = {
    **_COMMON, "type": "Project", "name": None, "code": None, "description": None,
    "shotgun_id": None, "file_tree": None, "data": None, "has_avatar": False, "fps": "25",
    "ratio": "16:9", "resolution": "1920x1080", "production_type": "short",
    "production_style": "2d3d", "start_date": None, "end_date": None, "man_days": None,
    "nb_episodes": 0, "episode_span": 0, "max_retakes": 0, "is_clients_isolated": False,
    "is_client_stats_visible": True, "is_client_task_list_visible": True,
    "is_client_task_panel_visible": True, "is_preview_download_allowed": False,
    "is_set_preview_automated": False, "homepage": "assets",
    "is_publish_default_for_artists": False, "is_bot_collaboration_enabled": False,
    "is_single_preview_per_revision": False, "is_frame_in_numbering": False,
    "revision_padding": 0, "hd_bitrate_compression": None, "ld_bitrate_compression": None,
    "project_status_id": None, "default_preview_background_file_id": None,
    "from_schedule_version_id": None,
}
# Only the answer of the creating route has these (each an empty list).
PROJECT_CREATED = ("asset_types", "preview_background_files", "status_automations",
                   "task_statuses", "task_types", "team")

# A TV show's creating route also names the episode it starts with.
TVSHOW_CREATED = ("first_episode_id",)

ENTITY = {
    **_COMMON, "type": None, "name": None, "code": None, "description": "", "shotgun_id": None,
    "canceled": False, "nb_frames": None, "nb_entities_out": 0, "is_casting_standby": False,
    "is_shared": False, "status": "running", "project_id": None, "entity_type_id": None,
    "parent_id": None, "source_id": None, "preview_file_id": None, "data": {}, "ready_for": None,
    "created_by": None,
}
# A shot's description starts as null where an episode's or a sequence's is "".
SHOT_DESCRIPTION = None

PERSON = {
    **_COMMON, "type": "Person", "first_name": None, "last_name": None, "full_name": None,
    "email": None, "phone": "", "country": None, "contract_type": "open-ended", "active": True,
    "archived": False, "last_presence": None, "desktop_login": "", "totp_enabled": False,
    "email_otp_enabled": False, "fido_enabled": False,
    "preferred_two_factor_authentication": None, "shotgun_id": None,
    "timezone": "Europe/Paris", "locale": "en_US", "data": None, "role": "user",
    "position": "artist", "seniority": "mid", "daily_salary": 0, "has_avatar": False,
    "notifications_enabled": False, "notifications_slack_enabled": False,
    "notifications_slack_userid": "", "notifications_mattermost_enabled": False,
    "notifications_mattermost_userid": "", "notifications_discord_enabled": False,
    "notifications_discord_userid": "", "is_bot": False, "is_guest": False,
    "expiration_date": None, "studio_id": None, "is_generated_from_ldap": False,
    "ldap_uid": None, "display_date_format": "YYYY-MM-DD", "use_12_hour_clock": False,
    "preview_project_id": None, "preview_opened_at": None, "preview_open_until": None,
}
PERSON_CREATED = ("departments",)

TASK = {
    **_COMMON, "type": "Task", "name": "main", "description": None, "priority": 0,
    "difficulty": 3, "duration": 0.0, "estimation": 0.0, "completion_rate": 0,
    "retake_count": 0, "sort_order": 0, "start_date": None, "due_date": None,
    "real_start_date": None, "end_date": None, "done_date": None, "last_comment_date": None,
    "nb_assets_ready": 0, "nb_drawings": 0, "data": None, "shotgun_id": None,
    "last_preview_file_id": None, "project_id": None, "task_type_id": None,
    "task_status_id": None, "entity_id": None, "assigner_id": None,
}
TASK_CREATED = ("assignees",)

SHAPES = {"projects": PROJECT, "episodes": ENTITY, "sequences": ENTITY, "shots": ENTITY,
          "persons": PERSON, "tasks": TASK}
CREATED_ONLY = {"projects": PROJECT_CREATED, "persons": PERSON_CREATED, "tasks": TASK_CREATED}

_STAMP = "2024-01-01T00:00:00"


def _reference(kind, rows, **common):
    made = []
    for i, row in enumerate(rows):
        made.append({"id": str(uuid.UUID(int=(kind << 64) | i + 1, version=4)), "type": common["type"],
                     "created_at": _STAMP, "updated_at": _STAMP,
                     **{k: v for k, v in common.items() if k != "type"}, **row})
    return made


PROJECT_STATUSES = _reference(1, [{"name": "Open"}, {"name": "Closed"}],
                              type="ProjectStatus", color="#000000")
ENTITY_TYPES = _reference(2, [{"name": "Episode"}, {"name": "Sequence"}, {"name": "Shot"}],
                          type="EntityType", short_name=None, description=None, archived=False)
TASK_TYPES = _reference(3, [
    {"name": "Layout", "color": "#7CB342", "priority": 2},
    {"name": "Animation", "color": "#009688", "priority": 3},
    {"name": "Lighting", "color": "#F9A825", "priority": 4},
    {"name": "Compositing", "color": "#ff5252", "priority": 7},
], type="TaskType", short_name="", description=None, for_entity="Shot", allow_timelog=True,
    archived=False, shotgun_id=None, department_id=None)
_STATUS = dict(is_default=False, is_done=False, is_retake=False, is_wip=False,
               is_feedback_request=False, is_artist_allowed=True, is_client_allowed=True,
               for_concept=False, priority=1, archived=False, description=None, shotgun_id=None)
TASK_STATUSES = _reference(4, [
    {**_STATUS, "name": "Todo", "short_name": "todo", "color": "#f5f5f5", "is_default": True},
    {**_STATUS, "name": "Work In Progress", "short_name": "wip", "color": "#3273dc", "is_wip": True},
    {**_STATUS, "name": "Retake", "short_name": "retake", "color": "#ff3860", "is_retake": True},
    {**_STATUS, "name": "Done", "short_name": "done", "color": "#22d160", "is_done": True},
], type="TaskStatus")
REFERENCE = {"project-status": PROJECT_STATUSES, "entity-types": ENTITY_TYPES,
             "task-types": TASK_TYPES, "task-status": TASK_STATUSES}
ENTITY_TYPE_IDS = {r["name"]: r["id"] for r in ENTITY_TYPES}
KIND_TYPES = {"episodes": "Episode", "sequences": "Sequence", "shots": "Shot"}


def now():
    """The server's timestamp format: UTC, to the second, no zone."""
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S")


def complete(kind, fields, created_by=None):
    """A stored record of `kind` from `fields`: defaults for the rest, an id, timestamps.

    The stored record also keeps the fields only the creating route answers
    with; `shown` cuts it to a list route's row.
    """
    record = dict(SHAPES[kind])
    if kind in KIND_TYPES:
        record["type"] = KIND_TYPES[kind]
        record["entity_type_id"] = ENTITY_TYPE_IDS[record["type"]]
        record["created_by"] = created_by
        if kind == "shots":
            record["description"] = SHOT_DESCRIPTION
        record["data"] = {}
    for extra in CREATED_ONLY.get(kind, ()):
        record[extra] = []
    stamp = now()
    record.update(id=str(uuid.uuid4()), created_at=stamp, updated_at=stamp)
    record.update(fields)
    if kind == "persons":
        record["full_name"] = f"{record['first_name'] or ''} {record['last_name'] or ''}".strip()
    return record


def shown(kind, record):
    """The row of a list route: the fields of the kind's shape."""
    return {k: record[k] for k in SHAPES[kind]}


def as_created(kind, record):
    """The answer of a creating route: the row and the creation-only fields."""
    return {**shown(kind, record), **{k: record[k] for k in CREATED_ONLY.get(kind, ())}}
