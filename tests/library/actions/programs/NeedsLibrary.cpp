// An engine that needs a library the dynamic loader cannot find: it never
// reaches main, and the loader says so on standard error.
extern "C" int tvx_test_missing_library_answer();

__attribute__((section(".fileversion"), used)) static const char kVersion[] = "9.9.9.9";

int main() {
    return tvx_test_missing_library_answer();
}
