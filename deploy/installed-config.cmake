# Writes the configuration as the package installs it: the example with each projector's lines
# commented out, so that the service waits until the installer names theirs.
#   cmake -D IN=qx200d.yml -D OUT=installed/qx200d.yml -P installed-config.cmake
file(READ "${IN}" text)
set(text "\n${text}")
string(FIND "${text}" "\nprojectors:\n" start)
if(start LESS 0)
  message(FATAL_ERROR "${IN}: no \"projectors:\" list")
endif()
math(EXPR start "${start} + 13")
string(SUBSTRING "${text}" 0 ${start} head)
string(SUBSTRING "${text}" ${start} -1 tail)
# The list ends at the next line that starts a key of its own.
string(REGEX MATCH "^(([ #-][^\n]*)?\n)*" list "${tail}")
string(LENGTH "${list}" length)
string(SUBSTRING "${tail}" ${length} -1 rest)
string(REGEX REPLACE "\n([ -])" "\n#\\1" list "\n${list}")
string(SUBSTRING "${list}" 1 -1 list)
string(REPLACE "\nprojectors:\n"
       "\n# Every projector below is commented out: the service starts once one is named.\nprojectors:\n"
       head "${head}")
string(SUBSTRING "${head}" 1 -1 head)
file(WRITE "${OUT}" "${head}${list}${rest}")
