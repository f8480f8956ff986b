# The mesh information tool on a corpus model: a probe from above hits the
# boat, one far away misses, and a missing file is an error with status 1.
if(TARGET vintrel-meshinfo)
    add_test(NAME meshinfo-pick
             COMMAND vintrel-meshinfo "${VINTREL_CORPUS_DIR}/x/minetest_game/boat.x" --pick 0 0 0 --pick 100 0 0)
    set_tests_properties(meshinfo-pick PROPERTIES PASS_REGULAR_EXPRESSION
        "vertices=2952 faces=1476 index=16 fvf=0x112 stride=32 materials=1.*pick x=0 y=0 z=0 subset=0 face=[0-9]+ .*pick x=100 y=0 z=0 subset=-1 face=0 u=0 v=0 height=0")
    add_test(NAME meshinfo-missing-file
        COMMAND sh -c [["$0" "$1"; echo "status $?"]] $<TARGET_FILE:vintrel-meshinfo> "${VINTREL_CORPUS_DIR}/x/no-such-file.x")
    set_tests_properties(meshinfo-missing-file PROPERTIES PASS_REGULAR_EXPRESSION
        "^error=0x88760359 cannot open the file\nstatus 1\n$")
endif()
# Its lines are its product: losing them to a full disk is a failure.
if(TARGET vintrel-meshinfo)
    add_test(NAME meshinfo-lost-output-is-status-1
        COMMAND sh -c [["$0" "$1" 2>&1 >/dev/full; echo "status $?"]]
                $<TARGET_FILE:vintrel-meshinfo> "${VINTREL_CORPUS_DIR}/x/minetest_game/boat.x")
    set_tests_properties(meshinfo-lost-output-is-status-1 PROPERTIES PASS_REGULAR_EXPRESSION
        "^vintrel-meshinfo: cannot write the output: No space left on device\nstatus 1\n$")
endif()
