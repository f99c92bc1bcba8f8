# Copies the sample data folder SOURCE to TARGET, decompresses ibdata1.gz into ibdata1
# and touches STAMP. Run with cmake -P.
file(REMOVE_RECURSE "${TARGET}")
file(MAKE_DIRECTORY "${TARGET}")
file(COPY "${SOURCE}/" DESTINATION "${TARGET}" PATTERN "ibdata1.gz" EXCLUDE)
find_program(GZIP_PROGRAM gzip REQUIRED)
execute_process(COMMAND "${GZIP_PROGRAM}" -dc "${SOURCE}/ibdata1.gz"
                OUTPUT_FILE "${TARGET}/ibdata1"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not decompress ${SOURCE}/ibdata1.gz")
endif()
file(TOUCH "${STAMP}")
