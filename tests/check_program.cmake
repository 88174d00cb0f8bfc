# Runs PROGRAM (with ARGS, a space-separated list) and checks its exit status against
# EXPECT_EXIT and its standard output and error together against the regular expression
# EXPECT_OUTPUT. The environment comes from the test's ENVIRONMENT property.
separate_arguments(arguments UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${PROGRAM} ${arguments}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status STREQUAL EXPECT_EXIT)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECT_EXIT}; output:\n${output}")
endif()
if(NOT output MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "output does not match '${EXPECT_OUTPUT}':\n${output}")
endif()
