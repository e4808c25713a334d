.pragma library

// Packs an "M.m" version for comparison. Anything else (empty, three parts, no text) gives 0, so only
// two-part versions compare meaningfully; the device pages fetch every version in that format.
function parseVersion(text) {
    if (!text)
        return 0
    var parts = String(text).split(".")
    if (parts.length !== 2)
        return 0
    return (parts[0] << 16) | (parts[1] << 8)
}

// The local file system path of a file: URL, or "" for anything else. Cutting the scheme off the text
// is not enough: the text keeps percent-escapes (%20, %25, %C3%BC...) that no file name contains.
function localPath(url, os) {
    var text = String(url)
    if (text.substring(0, 7).toLowerCase() !== "file://")
        return ""
    var rest = text.substring(7)
    var windows = (os === undefined ? Qt.platform.os : os) === "windows"
    var path
    if (rest.charAt(0) === "/")
        path = rest
    else if (windows)
        path = "//" + rest  // file://server/share/... is a UNC path
    else
        return ""
    var cut = path.search(/[?#]/)
    if (cut >= 0)
        path = path.substring(0, cut)
    try {
        path = decodeURIComponent(path)
    } catch (error) {
        return ""
    }
    if (windows && /^\/[A-Za-z]:/.test(path))
        path = path.substring(1)
    return path
}
