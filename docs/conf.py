"""Sphinx configuration of travo's documentation site.

Built by the CMake target ``docs`` (or ``scripts/build-docs.sh``), which
runs Doxygen first and hands this file the build's paths through the
environment:

TRAVO_BUILD_DIR
    The CMake build folder: the tool ``bin/travo`` for the command-line
    reference, the package ``python/travo`` for the Python reference and the
    doctests (default: ``build`` beside this folder's parent).
TRAVO_DOXYGEN_XML
    Doxygen's XML output for the C and C++ reference (default:
    ``$TRAVO_BUILD_DIR/docs/doxygen/xml``).
"""

import os
import pathlib
import sys

here = pathlib.Path(__file__).resolve().parent
root = here.parent
build = pathlib.Path(os.environ.get("TRAVO_BUILD_DIR", root / "build")).resolve()

sys.path.insert(0, str(here / "_ext"))
sys.path.insert(0, str(build / "python"))
# Commands on the pages (program-output) find the tool and the package.
os.environ["PATH"] = f"{build / 'bin'}{os.pathsep}{os.environ.get('PATH', '')}"
os.environ["PYTHONPATH"] = os.pathsep.join(p for p in (str(build / "python"), os.environ.get("PYTHONPATH")) if p)


def _version() -> str:
    import re

    text = (root / "CMakeLists.txt").read_text()
    return re.search(r"project\(travo VERSION (\S+)", text).group(1)


project = "travo"
author = "the travo developers"
copyright = "the travo developers"
release = version = _version()

extensions = [
    "myst_parser",
    "breathe",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.doctest",
    "sphinxcontrib.programoutput",
    "travo_docs",
]

source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
root_doc = "index"
exclude_patterns = ["_build"]
# The pages are written for one reader at a time, not for translation.
language = "en"
nitpicky = False

myst_enable_extensions = ["dollarmath", "colon_fence", "deflist"]
myst_heading_anchors = 3
myst_dmath_double_inline = True

# C and C++ reference from the headers' comments.
breathe_projects = {"travo": os.environ.get("TRAVO_DOXYGEN_XML", str(build / "docs" / "doxygen" / "xml"))}
breathe_default_project = "travo"
breathe_domain_by_extension = {"h": "c", "hpp": "cpp"}
breathe_show_include = True

# Python reference from the numpy-style docstrings.
autodoc_member_order = "bysource"
autodoc_typehints = "none"
autodoc_typehints_format = "short"
autodoc_preserve_defaults = True
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False

# Doctests: every Python example of the pages and the docstrings runs.
# The docstrings' examples take the package as imported.
doctest_global_setup = """
import numpy as np
import travo
"""
trim_doctest_flags = True

# Formulas are typeset in the reader's browser by KaTeX, from Debian's
# libjs-katex copied into the site: nothing is fetched from the network.
html_math_renderer = "katex"

html_theme = "furo"
html_title = f"travo {release}"
html_static_path = ["_static"]
html_css_files = ["travo.css"]
html_last_updated_fmt = None
html_show_sourcelink = False
html_copy_source = False
