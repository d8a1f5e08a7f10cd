# Copies of a test held to each path of the imaging layer through
# PELLICOR_FAST_PATHS: name@none (the plain path throughout), name@avx2 and
# name@avx512. The test itself runs whatever the machine offers. A copy asking
# for a level this build on this processor does not run is skipped
# (tests/support/imaging_level).
#   pellicor_test_levels(name command [arg...])   after add_test(NAME name ...)
# The copies take the test's labels (less `threads`, which the sanitizer
# build runs once) and environment; each runs in a folder of its own.
set(PELLICOR_TEST_LEVELS none avx2 avx512)

function(pellicor_test_levels name)
    get_test_property(${name} LABELS labels)
    get_test_property(${name} ENVIRONMENT environment)
    if(NOT labels)
        set(labels "")
    endif()
    if(NOT environment)
        set(environment "")
    endif()
    list(REMOVE_ITEM labels threads)
    list(APPEND labels levels)
    foreach(level IN LISTS PELLICOR_TEST_LEVELS)
        set(folder ${CMAKE_CURRENT_BINARY_DIR}/${name}@${level})
        file(MAKE_DIRECTORY ${folder})
        set(held ${environment})
        list(APPEND held PELLICOR_FAST_PATHS=${level})
        add_test(NAME ${name}@${level} COMMAND imaging_level run ${ARGN} WORKING_DIRECTORY ${folder})
        set_tests_properties(${name}@${level} PROPERTIES LABELS "${labels}" ENVIRONMENT "${held}"
            SKIP_REGULAR_EXPRESSION "imaging_level: skipped")
    endforeach()
endfunction()
