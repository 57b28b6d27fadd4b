"""Sphinx configuration: Markdown pages (MyST), the command from its own parser, the API from the
docstrings and type hints of the installed package."""

from __future__ import annotations

import importlib.metadata

project = "cellkit"
author = "the cellkit developers"
copyright = "2026, the cellkit developers"
release = importlib.metadata.version("cellkit")
version = release

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx_autodoc_typehints",
    "sphinxarg.ext",
]
myst_enable_extensions = ["colon_fence", "dollarmath", "deflist"]
myst_heading_anchors = 3
source_suffix = {".md": "markdown"}
exclude_patterns = ["_build"]

html_theme = "furo"
html_title = f"cellkit {release}"

autodoc_member_order = "bysource"
autodoc_typehints = "description"
always_document_param_types = False
# The extension module's signatures come from its text signatures; its types from _native.pyi.
nitpicky = False
