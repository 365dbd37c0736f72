# Builds the clang sub-build's fuzzer, then runs it for SECONDS seconds on a fresh corpus seeded
# with the zip fixtures and with archives made here by the library itself and by Python (ditto
# layout). Any finding (crash, leak, sanitizer report, timeout) fails the test; the input that
# caused it is left in WORK.
execute_process(COMMAND ${CMAKE_COMMAND} --build "${MAIN_BUILD}" --target zip_fuzz_build lvzip
                RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "building the fuzzer failed")
endif()

file(REMOVE_RECURSE "${WORK}/corpus" "${WORK}/seeds")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/seeds/src")
file(WRITE "${WORK}/seeds/src/text.txt" "a small text file\nwith two lines\n")
set(lvzip "${MAIN_BUILD}/tests/tools/lvzip")
execute_process(COMMAND python3 "${SEEDS}/make_appledouble_zip.py" "${WORK}/seeds/ditto.zip" RESULT_VARIABLE ignored)
execute_process(COMMAND "${lvzip}" add "${WORK}/seeds/deflated.zip" "${WORK}/seeds/src" RESULT_VARIABLE ignored)
execute_process(COMMAND "${lvzip}" add --store --macbinary always "${WORK}/seeds/stored.zip" "${WORK}/seeds/src"
                RESULT_VARIABLE ignored)
file(REMOVE_RECURSE "${WORK}/seeds/src")

# The fuzzer's scratch folder goes below WORK: libFuzzer ends without the exit handlers that
# would remove it from /tmp.
file(REMOVE_RECURSE "${WORK}/tmp")
file(MAKE_DIRECTORY "${WORK}/tmp")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "TMPDIR=${WORK}/tmp"
          "${FUZZER}" -max_total_time=${SECONDS} -timeout=20 -rss_limit_mb=2048 -max_len=262144
          -artifact_prefix=${WORK}/ "${WORK}/corpus" "${SEEDS}" "${WORK}/seeds"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer reported a finding (exit ${result}); see ${WORK}")
endif()
file(REMOVE_RECURSE "${WORK}/tmp")
