# Lays the maker folder out for the plug-in's server launcher. Idempotent.
# Expects TEV_SERVER_SOURCE_DIR, TEV_SERVER_BUILD_CONFIG, TEV_MAKER_FOLDER and
# TEV_SERVER_PYTHON; honours DESTDIR for staged installs.
foreach(var TEV_SERVER_SOURCE_DIR TEV_SERVER_BUILD_CONFIG TEV_MAKER_FOLDER TEV_SERVER_PYTHON)
  if(NOT ${var})
    message(FATAL_ERROR "InstallServer.cmake: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND "${TEV_SERVER_PYTHON}" -I -c "import msgpack, numpy"
                RESULT_VARIABLE _tev_py_ok OUTPUT_QUIET ERROR_QUIET)
if(NOT _tev_py_ok EQUAL 0)
  message(FATAL_ERROR "${TEV_SERVER_PYTHON} cannot import msgpack and numpy: "
                      "install python3-msgpack and python3-numpy (scripts/install-deps.sh)")
endif()

set(_tev_root "$ENV{DESTDIR}${TEV_MAKER_FOLDER}")
set(_tev_server_dir "${_tev_root}/TEVORA/Server")
set(_tev_bin_dir "${_tev_root}/Render Engine/Python 3.10/bin")

# Start the package afresh so that no module removed from the sources lingers.
file(REMOVE_RECURSE "${_tev_server_dir}/tevserver" "${_tev_server_dir}/__pycache__")
file(MAKE_DIRECTORY "${_tev_server_dir}" "${_tev_bin_dir}" "${_tev_root}/Logs")
file(COPY "${TEV_SERVER_SOURCE_DIR}/launcher.py" DESTINATION "${_tev_server_dir}")
file(COPY "${TEV_SERVER_SOURCE_DIR}/tevserver" DESTINATION "${_tev_server_dir}"
     FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
file(COPY_FILE "${TEV_SERVER_BUILD_CONFIG}" "${_tev_server_dir}/tevserver/build_config.py")

file(REMOVE "${_tev_bin_dir}/TEVORA Server")
file(CREATE_LINK "${TEV_SERVER_PYTHON}" "${_tev_bin_dir}/TEVORA Server" SYMBOLIC)

message(STATUS "Reference server installed in ${_tev_server_dir}")
