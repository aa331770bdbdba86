# SPDX-License-Identifier: GPL-3.0-or-later
# Engine tests: cipher, archive layer, pipelines and the command-line companion.
corvanta_add_test(test_archive SOURCES test_archive.cpp engine_test_support.h LIBS corvanta_engine_internals)
# Archives of other zip writers; npm's libraries are installed into the build folder by the test command.
target_compile_definitions(test_archive PRIVATE CORVANTA_TEST_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}"
                           CORVANTA_NPM_MODULES="${CMAKE_BINARY_DIR}/npm/node_modules")
corvanta_add_test(test_pipeline SOURCES test_pipeline.cpp engine_test_support.h LIBS corvanta_engine_internals)
corvanta_add_test(test_round_trip SOURCES test_round_trip.cpp engine_test_support.h LIBS corvanta_engine_internals)
# A container made by the program as it was before names, times and modes were kept as they are now.
target_compile_definitions(test_round_trip PRIVATE CORVANTA_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
corvanta_add_test(test_file_systems SOURCES test_file_systems.cpp engine_test_support.h LIBS corvanta_engine_internals)
# It mounts file systems (a loop device and FUSE, tmpfs) and attacks a root-run unpack as another user: only root can.
set_tests_properties(test_file_systems PROPERTIES LABELS root)
corvanta_add_test(test_cli SOURCES test_cli.cpp engine_test_support.h LIBS corvanta_engine_internals)
target_compile_definitions(test_cli PRIVATE CORVANTA_CLI_PATH="$<TARGET_FILE:corvanta-cli>"
                          CORVANTA_VERSION="${PROJECT_VERSION}")
add_dependencies(test_cli corvanta-cli)
corvanta_add_test(test_limits SOURCES test_limits.cpp engine_test_support.h LIBS corvanta_engine_internals)
target_compile_definitions(test_limits PRIVATE CORVANTA_CLI_PATH="$<TARGET_FILE:corvanta-cli>")
add_dependencies(test_limits corvanta-cli)
corvanta_add_test(test_password SOURCES test_password.cpp engine_test_support.h LIBS corvanta_engine_internals)
target_compile_definitions(test_password PRIVATE CORVANTA_CLI_PATH="$<TARGET_FILE:corvanta-cli>")
add_dependencies(test_password corvanta-cli)
corvanta_add_test(test_salvage SOURCES test_salvage.cpp engine_test_support.h LIBS corvanta_engine_internals)
corvanta_add_test(test_choices SOURCES test_choices.cpp engine_test_support.h LIBS corvanta_engine_internals)
target_compile_definitions(test_choices PRIVATE CORVANTA_CLI_PATH="$<TARGET_FILE:corvanta-cli>")
add_dependencies(test_choices corvanta-cli)
