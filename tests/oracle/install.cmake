# Installs the pinned mdb-reader into TARGET (cmake -P, from CMakeLists.txt).
# A failure is reported, not fatal: the tests that need the oracle skip.
file(MAKE_DIRECTORY ${TARGET})
file(COPY ${SOURCE}/package.json ${SOURCE}/package-lock.json ${SOURCE}/mdb-dump.mjs DESTINATION ${TARGET})
if(NOT NPM)
  message(STATUS "mdb-reader oracle: npm not found (scripts/setup.sh installs it); its tests will skip")
  return()
endif()
execute_process(COMMAND ${NPM} ci --no-audit --no-fund --loglevel=error --fetch-retries=1 --fetch-timeout=30000
                WORKING_DIRECTORY ${TARGET} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(result EQUAL 0 AND EXISTS ${TARGET}/node_modules/mdb-reader/package.json)
  file(TOUCH ${TARGET}/installed.stamp)
else()
  message(STATUS "mdb-reader oracle: npm ci failed; its tests will skip\n${errors}")
endif()
