import QtQuick 2.12
import QtTest 1.12
import "../../../qml/main/Utils.js" as Utils

TestCase {
    name: "Utils"

    function test_parseVersion_data() {
        return [
            { tag: "two parts", text: "1.46", expected: (1 << 16) | (46 << 8) },
            { tag: "major only", text: "2", expected: 0 },
            { tag: "three parts", text: "1.46.0", expected: 0 },
            { tag: "four parts", text: "1.46.0.12", expected: 0 },
            { tag: "empty", text: "", expected: 0 },
            { tag: "missing", text: undefined, expected: 0 },
            { tag: "not a number", text: "x.5", expected: 5 << 8 },
        ]
    }

    function test_parseVersion(data) {
        compare(Utils.parseVersion(data.text), data.expected)
    }

    function test_versionOrder_data() {
        return [
            { tag: "minor", older: "1.45", newer: "1.46" },
            { tag: "major beats minor", older: "1.99", newer: "2.0" },
            { tag: "minor is numeric", older: "1.9", newer: "1.10" },
            { tag: "anything beats empty", older: "", newer: "0.1" },
        ]
    }

    function test_versionOrder(data) {
        verify(Utils.parseVersion(data.newer) > Utils.parseVersion(data.older))
    }

    property url blankAndUmlaut: "file:///home/anna/Firmware Dateien/Empfänger 100%25.dfu"

    function test_localPath_data() {
        return [
            { tag: "plain", url: "file:///tmp/r.dfu", os: "linux", expected: "/tmp/r.dfu" },
            { tag: "encoded blank", url: "file:///tmp/my%20files/r.dfu", os: "linux", expected: "/tmp/my files/r.dfu" },
            { tag: "encoded non-ASCII", url: "file:///tmp/%C3%BCber/r.dfu", os: "linux", expected: "/tmp/über/r.dfu" },
            { tag: "url value with blank and umlaut", url: blankAndUmlaut, os: "linux",
              expected: "/home/anna/Firmware Dateien/Empfänger 100%.dfu" },
            { tag: "hash in a name", url: "file:///tmp/a%23b.dfu", os: "linux", expected: "/tmp/a#b.dfu" },
            { tag: "windows drive", url: "file:///C:/Users/a%20b/r.dfu", os: "windows", expected: "C:/Users/a b/r.dfu" },
            { tag: "windows share", url: "file://server/share/r.dfu", os: "windows", expected: "//server/share/r.dfu" },
            { tag: "drive-like path elsewhere", url: "file:///C:/r.dfu", os: "linux", expected: "/C:/r.dfu" },
            { tag: "remote host elsewhere", url: "file://server/r.dfu", os: "linux", expected: "" },
            { tag: "web address", url: "https://example.org/r.dfu", os: "linux", expected: "" },
            { tag: "broken escape", url: "file:///tmp/%E0%A4%A.dfu", os: "linux", expected: "" },
            { tag: "empty", url: "", os: "linux", expected: "" },
        ]
    }

    function test_localPath(data) {
        compare(Utils.localPath(data.url, data.os), data.expected)
    }

    function test_localPathUsesThisSystemByDefault() {
        compare(Utils.localPath("file:///tmp/a%20b.dfu"), "/tmp/a b.dfu")
    }
}
