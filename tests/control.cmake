# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# The administrator's command and the desktop notices, against a stand-in of
# the daemon's object generated from the installed interface file.
set(status_xml ${PROJECT_SOURCE_DIR}/data/os.kirtalinux.zun.kirtaupdateservice.Status.xml)
qt5_add_dbus_adaptor(standin_sources ${status_xml} statusstandin.h StatusStandIn
    statusadaptor StatusAdaptor)
add_library(kirta-status-standin STATIC statusstandin.cpp ${standin_sources})
target_include_directories(kirta-status-standin PUBLIC
    ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(kirta-status-standin PUBLIC Qt5::Core Qt5::DBus kirta-bus-contract)

# The stand-in between two private buses, with a desktop's notification
# daemon on the session bus.
add_library(kirta-notice-desk STATIC noticedesk.cpp)
target_link_libraries(kirta-notice-desk PUBLIC kirta-status-standin kirta-test-common Qt5::Test
    PRIVATE kirta-warnings)

kirta_add_test(tst_updatectl SOURCES tst_updatectl.cpp LIBS kirta-status-standin)
add_dependencies(tst_updatectl kirta-update-ctl)

kirta_add_test(tst_notifier SOURCES tst_notifier.cpp LIBS kirta-notice-desk)
add_dependencies(tst_notifier kirta-update-notifier)

add_test(NAME tst_updatectl_completion_shellcheck
    COMMAND shellcheck -s bash ${PROJECT_SOURCE_DIR}/data/kirta-update-ctl.bash-completion)

kirta_add_test(tst_updatectl_daemon SOURCES tst_updatectl_daemon.cpp DAEMON_BINARY)
add_dependencies(tst_updatectl_daemon kirta-update-ctl)

# The command and the notices in the user's language.
kirta_add_test(tst_language SOURCES tst_language.cpp LIBS kirta-notice-desk)
add_dependencies(tst_language kirta-update-ctl kirta-update-notifier kirta-translations)
# The catalogues are checked against the sources with the translators' own
# tool.
find_package(Qt5LinguistTools 5.15 REQUIRED)
target_compile_definitions(tst_language PRIVATE KIRTA_LUPDATE="$<TARGET_FILE:Qt5::lupdate>")
