if(TARGET vintrel_app)
    vintrel_test(sound
        SOURCES ${VINTREL_TEST_FOLDER}/wave_reader_test.cpp
                ${VINTREL_TEST_FOLDER}/sound_set_test.cpp
        LIBS vintrel_app)
endif()

if(TARGET vintrel-wavinfo)
    add_test(NAME wavinfo-reads-a-file
        COMMAND vintrel-wavinfo ${VINTREL_CORPUS_DIR}/wav/go-audio/kick.wav)
    set_tests_properties(wavinfo-reads-a-file PROPERTIES PASS_REGULAR_EXPRESSION
        "^format=1 channels=1 rate=22050 bytespersec=44100 blockalign=2 bits=16 cbsize=0 datasize=8968\n$")
    add_test(NAME wavinfo-reports-failure
        COMMAND vintrel-wavinfo ${VINTREL_CORPUS_DIR}/wav/scipy/test-44100Hz-le-1ch-4bytes-early-eof.wav)
    set_tests_properties(wavinfo-reports-failure PROPERTIES PASS_REGULAR_EXPRESSION
        "^error=0x80004005 [^\n]+\n$")
    add_test(NAME wavinfo-missing-is-status-1
        COMMAND vintrel-wavinfo ${PROJECT_BINARY_DIR}/no-such-file.wav)
    set_tests_properties(wavinfo-missing-is-status-1 PROPERTIES WILL_FAIL TRUE)
    # Its line is its product: losing it to a full disk is a failure.
    add_test(NAME wavinfo-lost-output-is-status-1
        COMMAND sh -c [["$0" "$1" 2>&1 >/dev/full; echo "status $?"]]
                $<TARGET_FILE:vintrel-wavinfo> ${VINTREL_CORPUS_DIR}/wav/go-audio/kick.wav)
    set_tests_properties(wavinfo-lost-output-is-status-1 PROPERTIES PASS_REGULAR_EXPRESSION
        "^vintrel-wavinfo: cannot write the output: No space left on device\nstatus 1\n$")
endif()
