# Copies beside Windows executables exactly the DLLs they load, found by following their
# imports (and those of the given Qt plugins) through the Qt and MinGW folders with objdump;
# what is not found there is Windows' own. Run with cmake -P, or included from an install script.
#
#   EXECUTABLES   the .exe files (or EXE_DIR: every .exe in that folder)
#   DEST          the folder they run from
#   QT_PLUGIN_DIR Qt's plugins folder
#   PLUGINS       plugins below it to copy along, e.g. platforms/qwindows.dll
#   SEARCH_DIRS   folders holding the DLLs to copy
#   OBJDUMP       the MinGW objdump
#   STRIP         the MinGW strip, or empty to copy unstripped
cmake_minimum_required(VERSION 3.25)

# Lists may come comma-separated from a command line.
foreach(_var EXECUTABLES PLUGINS SEARCH_DIRS)
    string(REPLACE "," ";" ${_var} "${${_var}}")
endforeach()
if(NOT EXECUTABLES AND EXE_DIR)
    file(GLOB EXECUTABLES "${EXE_DIR}/*.exe")
endif()

set(_modules)
foreach(_plugin IN LISTS PLUGINS)
    get_filename_component(_sub "${_plugin}" DIRECTORY)
    file(COPY "${QT_PLUGIN_DIR}/${_plugin}" DESTINATION "${DEST}/${_sub}")
    list(APPEND _modules "${QT_PLUGIN_DIR}/${_plugin}")
endforeach()

# Every DLL the search folders hold, by lower-case name: Windows matches DLL names without
# regard to case, the file system here does not.
set(_index_names)
set(_index_paths)
foreach(_dir IN LISTS SEARCH_DIRS)
    file(GLOB _dlls "${_dir}/*.dll")
    foreach(_dll IN LISTS _dlls)
        get_filename_component(_name "${_dll}" NAME)
        string(TOLOWER "${_name}" _name)
        if(NOT _name IN_LIST _index_names)
            list(APPEND _index_names "${_name}")
            list(APPEND _index_paths "${_dll}")
        endif()
    endforeach()
endforeach()

# Follows the imports, breadth first, from the programs and plugins.
set(_found)
set(_queue ${EXECUTABLES} ${_modules})
while(_queue)
    list(POP_FRONT _queue _file)
    execute_process(COMMAND "${OBJDUMP}" -p "${_file}" OUTPUT_VARIABLE _dump
                    RESULT_VARIABLE _rc ERROR_QUIET)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "deploy: objdump could not read ${_file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" _imports "${_dump}")
    foreach(_import IN LISTS _imports)
        string(REGEX REPLACE "^DLL Name: " "" _name "${_import}")
        string(STRIP "${_name}" _name)
        string(TOLOWER "${_name}" _lower)
        list(FIND _index_names "${_lower}" _at)
        if(_at EQUAL -1)
            # Windows' own DLLs are never in the search folders; ours always are.
            if(_lower MATCHES "^(qt6|lib)")
                message(FATAL_ERROR "deploy: ${_name}, needed by ${_file}, is not in ${SEARCH_DIRS}")
            endif()
            continue()
        endif()
        list(GET _index_paths ${_at} _path)
        if(NOT _path IN_LIST _found)
            list(APPEND _found "${_path}")
            list(APPEND _queue "${_path}")
        endif()
    endforeach()
endwhile()

file(COPY ${_found} DESTINATION "${DEST}")
set(_copied)
foreach(_dll IN LISTS _found)
    get_filename_component(_name "${_dll}" NAME)
    list(APPEND _copied "${DEST}/${_name}")
endforeach()
foreach(_plugin IN LISTS PLUGINS)
    list(APPEND _copied "${DEST}/${_plugin}")
endforeach()
if(STRIP)
    foreach(_file IN LISTS _copied)
        execute_process(COMMAND "${STRIP}" --strip-unneeded "${_file}" RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "deploy: could not strip ${_file}")
        endif()
    endforeach()
endif()
list(JOIN _copied "\n  " _list)
message(STATUS "deploy: into ${DEST}:\n  ${_list}")
