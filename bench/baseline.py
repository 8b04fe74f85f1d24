"""The pure-Python client a user would otherwise write: the baseline of the benchmark."""

import gazu


class PyProd:
    def get_project(self, project_name):
        return gazu.project.get_project_by_name(project_name)

    def get_shots(self, project_name):
        project = gazu.project.get_project_by_name(project_name)
        shots = gazu.shot.all_shots_for_project(project)
        return [shot["name"] for shot in shots]

    def Filter(self, string, substr):
        return [str for str in string if any(genexpr in str for genexpr in substr)]
