# The sanitizer build's configuration, shared by scripts/test.sh --sanitize
# and scripts/fuzz.sh: one clang tree with ASan+UBSan and libFuzzer's
# coverage, in which the tests run and the fuzz targets are built.
# Optimised a little (-O1) so that the tests run at a fair speed under the
# sanitizers; assertions stay on.
sanitize_build=build-asan
sanitize_flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1
                -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPBB_FUZZ=ON -DPBB_BENCH=OFF)
