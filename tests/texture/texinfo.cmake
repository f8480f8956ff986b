# The texinfo tool's fixed lines, on a seed of the image fuzzer.
if(TARGET vintrel-texinfo)
    set(texinfo_seeds "${PROJECT_SOURCE_DIR}/fuzz/image/seeds")
    add_test(NAME texinfo-describes-a-dds-file
             COMMAND vintrel-texinfo "${texinfo_seeds}/argb_4x4_mips3.dds" --mips
                     --out "${PROJECT_BINARY_DIR}/texinfo-test.png")
    set_tests_properties(texinfo-describes-a-dds-file PROPERTIES PASS_REGULAR_EXPRESSION
        "^width=4 height=4 depth=1 mips=3 format=D3DFMT_A8R8G8B8 resource=texture filetype=dds\ntexture width=4 height=4 levels=3 format=D3DFMT_A8R8G8B8\n$")
    add_test(NAME texinfo-cube-in-another-format
             COMMAND vintrel-texinfo "${texinfo_seeds}/cube_4x4.dds" --format D3DFMT_R5G6B5)
    set_tests_properties(texinfo-cube-in-another-format PROPERTIES PASS_REGULAR_EXPRESSION
        "resource=cube filetype=dds\ntexture width=4 height=4 levels=1 format=D3DFMT_R5G6B5\n")
    add_test(NAME texinfo-refuses-a-missing-file COMMAND vintrel-texinfo "${PROJECT_BINARY_DIR}/no-such-file.dds")
    set_tests_properties(texinfo-refuses-a-missing-file PROPERTIES WILL_FAIL TRUE)
    add_test(NAME texinfo-reports-a-missing-file COMMAND vintrel-texinfo "${PROJECT_BINARY_DIR}/no-such-file.dds")
    set_tests_properties(texinfo-reports-a-missing-file PROPERTIES PASS_REGULAR_EXPRESSION "^error=0x88760B59 ")
    add_test(NAME texinfo-help COMMAND vintrel-texinfo --help)
    set_tests_properties(texinfo-help PROPERTIES PASS_REGULAR_EXPRESSION "--mipfilter")
endif()

# What it writes and prints: a failed --out (a folder in the way, a size
# limit reached part way) keeps the file that was there and leaves nothing
# else behind; lines lost to a full disk are a failure too.
if(TARGET vintrel-texinfo)
    add_test(NAME texinfo-failed-writes-keep-the-old-file
        COMMAND sh -c [[
dir=$(mktemp -d) && cd "$dir" || exit 1
mkdir folder.png
"$0" "$1" --out folder.png >out.txt 2>&1; [ $? = 1 ] || exit 2
grep -q '^error=0x80004005 cannot write folder.png' out.txt || exit 3
[ -d folder.png ] && [ -z "$(ls folder.png)" ] || exit 4
echo old >old.png
(trap '' XFSZ; ulimit -f 4; "$0" "$1" --out old.png >out.txt 2>&1); [ $? = 1 ] || exit 5
grep -q '^error=0x80004005 cannot write old.png' out.txt || exit 6
[ "$(cat old.png)" = old ] || exit 7
[ "$(ls | tr '\n' ' ')" = "folder.png old.png out.txt " ] || exit 8
"$0" "$1" --out old.png >/dev/null && [ "$(head -c 4 old.png | tail -c 3)" = PNG ] || exit 9
"$0" "$1" 2>err.txt >/dev/full; [ $? = 1 ] || exit 10
grep -qx 'vintrel-texinfo: cannot write the output: No space left on device' err.txt || exit 11
rm -rf "$dir"
]] $<TARGET_FILE:vintrel-texinfo> "${VINTREL_DATA_DIR}/grass.dds")
endif()
