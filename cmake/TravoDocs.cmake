# The tool's manual page and the documentation site.
#
# travo.1 is written from the tool's own --help (tools/cli/help_pages.py)
# whenever the tool is built, into ${PROJECT_BINARY_DIR}/man, and installed
# with it. The target docs (not part of all) builds the site into
# ${PROJECT_BINARY_DIR}/docs/html: Doxygen reads the public headers, Sphinx
# the pages of docs/, the tool's help, the Octave help texts and the Python
# package's docstrings; a warning of either is an error.

set(TRAVO_DOCS_PYTHON "${Python3_EXECUTABLE}")
if(NOT TRAVO_DOCS_PYTHON)
  find_program(TRAVO_DOCS_PYTHON NAMES python3)
endif()

if(TARGET travo_cli)
  if(TRAVO_DOCS_PYTHON)
    set(TRAVO_MAN_PAGE ${PROJECT_BINARY_DIR}/man/travo.1)
    add_custom_command(
      OUTPUT ${TRAVO_MAN_PAGE}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${TRAVO_DOCS_PYTHON} ${PROJECT_SOURCE_DIR}/tools/cli/help_pages.py $<TARGET_FILE:travo_cli>
              --man ${TRAVO_MAN_PAGE}
      DEPENDS travo_cli ${PROJECT_SOURCE_DIR}/tools/cli/help_pages.py
      COMMENT "Writing the manual page travo.1 from the tool's help"
      VERBATIM)
    add_custom_target(travo_man ALL DEPENDS ${TRAVO_MAN_PAGE})
  else()
    message(STATUS "No Python 3 interpreter: the manual page travo.1 is not written")
  endif()
endif()

# What the site needs: Doxygen, and Sphinx with its extensions in the
# interpreter that imports the built package.
set(TRAVO_DOCS_MISSING "")
find_program(TRAVO_DOXYGEN doxygen)
if(NOT TRAVO_DOXYGEN)
  string(APPEND TRAVO_DOCS_MISSING " doxygen")
endif()
if(TRAVO_DOCS_PYTHON)
  execute_process(
    COMMAND ${TRAVO_DOCS_PYTHON} -c
            "import sphinx, myst_parser, breathe, furo, sphinxcontrib.programoutput, jinja2"
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    string(APPEND TRAVO_DOCS_MISSING " sphinx (python3-sphinx, python3-myst-parser, python3-breathe, furo,"
           " python3-sphinxcontrib.programoutput)")
  endif()
else()
  string(APPEND TRAVO_DOCS_MISSING " python3")
endif()
if(NOT EXISTS /usr/share/javascript/katex/katex.min.js)
  string(APPEND TRAVO_DOCS_MISSING " libjs-katex")
endif()
if(NOT TARGET travo_cli OR NOT TARGET travo_python)
  string(APPEND TRAVO_DOCS_MISSING " the tool and the Python package (TRAVO_BUILD_TOOLS, TRAVO_BUILD_PYTHON)")
endif()

# The command that runs Doxygen, then Sphinx with one builder into
# ${PROJECT_BINARY_DIR}/docs/BUILDER.
function(travo_docs_command builder out)
  set(${out}
      ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBINARY_DIR=${PROJECT_BINARY_DIR}
      -DPYTHON=${TRAVO_DOCS_PYTHON} -DDOXYGEN=${TRAVO_DOXYGEN} -DBUILDER=${builder}
      -P ${PROJECT_SOURCE_DIR}/cmake/TravoRunDocs.cmake PARENT_SCOPE)
endfunction()

if(TRAVO_DOCS_MISSING STREQUAL "")
  set(TRAVO_DOCS_FOUND ON)
  travo_docs_command(html html_command)
  add_custom_target(docs
    COMMAND ${html_command}
    DEPENDS travo_cli travo_python
    COMMENT "Building the documentation site into ${PROJECT_BINARY_DIR}/docs/html"
    USES_TERMINAL VERBATIM)
else()
  set(TRAVO_DOCS_FOUND OFF)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo "The documentation site needs:${TRAVO_DOCS_MISSING}"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  message(STATUS "Documentation site not available; missing:${TRAVO_DOCS_MISSING}")
endif()

# The site's examples, label docs: every Python example as a doctest, every
# C, C++, Python and Octave example compiled or run, every shell example of
# the tutorials run on a small budget (tests/docs/quick.toml), and the
# manual page read without a warning. Not in sanitizer builds: the pages
# are the same, and their programs would need the sanitizer runtimes.
if(TRAVO_BUILD_TESTS AND NOT TRAVO_SANITIZE)
  file(GLOB_RECURSE doc_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
  set(example_pages ${PROJECT_SOURCE_DIR}/README.md ${doc_pages})
  # The tutorials' Python examples run between their shell examples.
  file(GLOB tutorial_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/tutorials/*.md)
  set(shell_pages ${PROJECT_SOURCE_DIR}/docs/start/shell.md ${PROJECT_SOURCE_DIR}/docs/reference/campaign-file.md
      ${tutorial_pages})
  set(python_pages ${example_pages})
  list(REMOVE_ITEM python_pages ${tutorial_pages})
  set(check ${TRAVO_DOCS_PYTHON} ${PROJECT_SOURCE_DIR}/tests/docs/check_examples.py)
  get_target_property(travo_library_dir travo BINARY_DIR)
  set(example_env "LD_LIBRARY_PATH=${travo_library_dir}")

  add_test(NAME docs.examples_c
    COMMAND ${check} c --build ${PROJECT_BINARY_DIR} --cc ${CMAKE_C_COMPILER} --library $<TARGET_FILE:travo>
            --include ${PROJECT_SOURCE_DIR}/include --include ${PROJECT_BINARY_DIR}/include ${example_pages})
  add_test(NAME docs.examples_cpp
    COMMAND ${check} cpp --build ${PROJECT_BINARY_DIR} --cxx ${CMAKE_CXX_COMPILER} --library $<TARGET_FILE:travo>
            --include ${PROJECT_SOURCE_DIR}/include --include ${PROJECT_BINARY_DIR}/include ${example_pages})
  set(docs_tests docs.examples_c docs.examples_cpp)
  if(TRAVO_DOCS_FOUND)
    travo_docs_command(doctest doctest_command)
    add_test(NAME docs.doctest COMMAND ${doctest_command})
    add_test(NAME docs.examples_python COMMAND ${check} python --build ${PROJECT_BINARY_DIR} ${python_pages})
    add_test(NAME docs.examples_shell
      COMMAND ${check} sh --build ${PROJECT_BINARY_DIR} --quick ${PROJECT_SOURCE_DIR}/tests/docs/quick.toml
              ${shell_pages})
    list(APPEND docs_tests docs.doctest docs.examples_python docs.examples_shell)
  endif()
  find_program(TRAVO_OCTAVE_CLI NAMES octave-cli)
  if(TARGET travo_mex AND TRAVO_OCTAVE_CLI)
    add_test(NAME docs.examples_octave
      COMMAND ${check} octave --build ${PROJECT_BINARY_DIR} --octave ${TRAVO_OCTAVE_CLI} ${example_pages})
    list(APPEND docs_tests docs.examples_octave)
  endif()
  find_program(TRAVO_GROFF groff)
  if(TARGET travo_man AND TRAVO_GROFF)
    add_test(NAME docs.man_page
      COMMAND sh -c "out=$(\"$0\" -man -ww -z -Tutf8 \"$1\" 2>&1) && test -z \"$out\" || { echo \"$out\"; exit 1; }"
              ${TRAVO_GROFF} ${TRAVO_MAN_PAGE})
    list(APPEND docs_tests docs.man_page)
  endif()
  set_tests_properties(${docs_tests} PROPERTIES LABELS docs TIMEOUT 1200 ENVIRONMENT "${example_env}")
endif()
