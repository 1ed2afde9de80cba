# Runs the accuracy program over a few days and checks that what it wrote makes sense: every
# place and target present, no non-numbers, the exact mode on target within 0.02°, the mean
# method visibly off. Run as: cmake -DPROGRAM=... -DOUTPUT=... -P check_accuracy.cmake
file(REMOVE ${OUTPUT})

# Bad usage ends with status 2 and the shared wording, never with an abort. The run may end on
# the last supported date, 2100-02-28 (424 days from 2099-01-01), and not a day later.
foreach(case "--year x|--year「x」は 1901～2099 の整数ではありません"
             "--days 0|--days「0」は 1～36500 の整数ではありません"
             "--step 86401|--step「86401」は 1～86400 の整数秒ではありません"
             "--bogus 1|不明なオプションです: --bogus"
             "--year 2099 --days 425|--year と --days の範囲が計算できる範囲（日本標準時 1900-03-01 00:00:00 から 2100-02-28 23:59:59 まで）を超えます")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 arguments)
    list(GET case 1 says)
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
    execute_process(COMMAND ${PROGRAM} ${arguments} RESULT_VARIABLE result
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 2 OR NOT out STREQUAL ""
       OR NOT err STREQUAL "heliostat-accuracy: ${says}\n'heliostat-accuracy --help' で使い方を表示します。\n")
        message(FATAL_ERROR "${arguments}: status ${result}, said: ${err}")
    endif()
endforeach()
execute_process(COMMAND ${PROGRAM} --year 2099 --days 424 --step 86400 RESULT_VARIABLE result
                OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "a run ending on 2100-02-28 refused with status ${result}")
endif()

execute_process(COMMAND ${PROGRAM} --year 2026 --days 3 --step 900 --output ${OUTPUT}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "heliostat-accuracy exited with ${result}")
endif()
file(READ ${OUTPUT} text)
foreach(word 札幌 東京 那覇 "| separation (°) |" "| sunset |" "| sunrise |")
    string(FIND "${text}" "${word}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "missing in the statement: ${word}")
    endif()
endforeach()
if(text MATCHES "nan|inf")
    message(FATAL_ERROR "a non-number in the statement:\n${text}")
endif()

file(STRINGS ${OUTPUT} exact ENCODING UTF-8 REGEX "\\| exact \\|")
file(STRINGS ${OUTPUT} mean ENCODING UTF-8 REGEX "\\| mean \\|")
list(LENGTH exact nexact)
list(LENGTH mean nmean)
if(NOT nexact EQUAL 9 OR NOT nmean EQUAL 9)
    message(FATAL_ERROR "expected 9 beam rows per mode, found ${nexact} and ${nmean}")
endif()
foreach(row IN LISTS exact)
    string(REGEX MATCH "([0-9.]+) \\| ([0-9.]+) \\|$" _ "${row}")
    if(CMAKE_MATCH_1 GREATER 0.02 OR CMAKE_MATCH_2 GREATER 0.02)
        message(FATAL_ERROR "exact mode off the target by more than 0.02°: ${row}")
    endif()
endforeach()
foreach(row IN LISTS mean)
    string(REGEX MATCH "\\| mean \\| ([0-9.]+) \\|" _ "${row}")
    if(NOT CMAKE_MATCH_1 GREATER 0.5)
        message(FATAL_ERROR "mean rule's median beam error implausibly small: ${row}")
    endif()
endforeach()
file(STRINGS ${OUTPUT} separation ENCODING UTF-8 REGEX "^\\| separation")
foreach(row IN LISTS separation)
    string(REGEX MATCH "\\| ([0-9.]+) \\| ([0-9.]+) \\|$" _ "${row}")
    if(NOT CMAKE_MATCH_1 GREATER 0.05 OR CMAKE_MATCH_1 GREATER 5)
        message(FATAL_ERROR "mean method's sun error out of all reason: ${row}")
    endif()
endforeach()
message(STATUS "accuracy statement sane: ${nexact} exact and ${nmean} mean beam rows")
