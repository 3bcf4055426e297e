# taxoscope_version_resource(EXE-NAME DESCRIPTION OUT-VAR): writes the
# VERSIONINFO script of EXE-NAME.exe into the current binary folder and names
# it in OUT-VAR, for the executable's resources.
function(taxoscope_version_resource exe_name description out_var)
  set(TAXOSCOPE_EXE_NAME ${exe_name})
  set(TAXOSCOPE_FILE_DESCRIPTION ${description})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${exe_name}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/res/versioninfo.rc.in ${script} @ONLY)
  set(${out_var} ${script} PARENT_SCOPE)
endfunction()
