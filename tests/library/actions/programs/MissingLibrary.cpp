// The library that tvx-test-engine-needs-library needs and never finds.
extern "C" int tvx_test_missing_library_answer() {
    return 0;
}
