# Windows, the message queue, dialogs, keys and time on the headless window system.
vintrel_test(win32-window
    SOURCES ${VINTREL_TEST_FOLDER}/window_test.cpp
    LIBS vintrel_platform PNG::PNG)
