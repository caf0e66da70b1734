// ditto: the Linux stand-in for the system's ditto tool, in its two uses by the updater.
//
//   ditto SRC DST          copies the folder SRC to DST (created as needed): contents, modes,
//                          times and symbolic links
//   ditto -x -k ZIP DIR    unpacks the zip archive ZIP into DIR
//
// Both keep only what a bundle's seal covers: no extended attributes, no owners, no set-id or
// sticky bits, and no write permission for group or others, whatever the source or the archive
// says. What an archive says is the publisher's only where the seal agrees, and a bundle anyone
// else could write to would run their code.
//
// Unpacking takes only plain files and folders whose paths stay inside DIR: an absolute path,
// a ".." component, a symbolic or hard link, or any other kind of entry refuses the archive.
// The bytes unpacked are capped at 20 times the archive's size (at least 64 MiB), so an archive
// that expands without end is refused before it fills the disk. DIR is made the user's alone.

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long long capFloor = 64LL * 1024 * 1024;
constexpr long long capFactor = 20;
constexpr long long maxEntries = 100000;
// The permission bits kept: the owner's, and reading and running for the rest.
constexpr mode_t keptMode = 0755;

int fail(const std::string& what) {
    std::fprintf(stderr, "ditto: %s\n", what.c_str());
    return 1;
}

std::string errorText(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

bool copyContents(int in, int out) {
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0)
            return true;
        if (n > 0)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL)
            return false;
        break;
    }
    std::vector<char> block(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, block.data(), block.size());
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, block.data() + done, size_t(n - done));
            if (w < 0)
                return false;
            done += w;
        }
    }
}

int copyTree(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return fail(errorText(from));
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(size_t(st.st_size) + 1);
        const ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0 || ::symlink(std::string(target.data(), size_t(n)).c_str(), to.c_str()) != 0)
            return fail(errorText(to));
        ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return 0;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0 && errno != EEXIST)
            return fail(errorText(to));
        DIR* dir = ::opendir(from.c_str());
        if (!dir)
            return fail(errorText(from));
        int status = 0;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            status = copyTree(from + "/" + name, to + "/" + name);
            if (status != 0)
                break;
        }
        ::closedir(dir);
        if (status != 0)
            return status;
    } else if (S_ISREG(st.st_mode)) {
        const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return fail(errorText(from));
        const int out =
            ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        const bool copied = out >= 0 && copyContents(in, out);
        ::close(in);
        if (out >= 0)
            ::close(out);
        if (!copied)
            return fail(errorText(to));
    } else {
        return fail(from + ": not a file, folder or link");
    }
    if (::chmod(to.c_str(), st.st_mode & keptMode) != 0 ||
        ::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0)
        return fail(errorText(to));
    return 0;
}

// Whether the archive path stays inside the destination: relative, no ".." component.
bool isSafePath(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = path.find('/', start);
        const std::string piece = path.substr(start, end == std::string::npos ? end : end - start);
        if (piece == "..")
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

int unpack(const std::string& zip, const std::string& dir) {
    struct stat st {};
    if (::stat(zip.c_str(), &st) != 0)
        return fail(errorText(zip));
    const long long cap = std::max(capFloor, capFactor * (long long)st.st_size);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return fail(errorText(dir));

    archive* in = archive_read_new();
    archive_read_support_format_zip(in);
    archive* out = archive_write_disk_new();
    archive_write_disk_set_options(
        out, ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                 ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    struct Closer {
        archive* in;
        archive* out;
        ~Closer() {
            archive_read_free(in);
            archive_write_free(out);
        }
    } closer{in, out};

    if (archive_read_open_filename(in, zip.c_str(), 1 << 16) != ARCHIVE_OK)
        return fail(zip + ": " + archive_error_string(in));
    // Entries keep their names and are written from inside the destination, so the
    // secure-extraction checks see them as they are in the archive.
    if (::chdir(dir.c_str()) != 0)
        return fail(errorText(dir));
    long long written = 0;
    long long count = 0;
    std::vector<char> block(1 << 16);
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK)
            return fail(zip + ": " + archive_error_string(in));
        if (++count > maxEntries)
            return fail(zip + ": more than " + std::to_string(maxEntries) + " entries");
        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        if (!isSafePath(name))
            return fail(zip + ": entry " + name + " leaves the destination");
        const mode_t type = archive_entry_filetype(entry);
        if (archive_entry_hardlink(entry) || archive_entry_symlink(entry) ||
            (type != AE_IFREG && type != AE_IFDIR))
            return fail(zip + ": entry " + name + " is not a plain file or folder");
        archive_entry_set_perm(entry, archive_entry_perm(entry) & keptMode);
        if (archive_write_header(out, entry) != ARCHIVE_OK)
            return fail(name + ": " + archive_error_string(out));
        for (;;) {
            const la_ssize_t n = archive_read_data(in, block.data(), block.size());
            if (n == 0)
                break;
            if (n < 0)
                return fail(zip + ": " + archive_error_string(in));
            written += n;
            if (written > cap)
                return fail(zip + ": unpacks to more than " + std::to_string(cap) + " bytes");
            if (archive_write_data(out, block.data(), size_t(n)) != n)
                return fail(name + ": " + archive_error_string(out));
        }
        if (archive_write_finish_entry(out) != ARCHIVE_OK)
            return fail(name + ": " + archive_error_string(out));
    }
    if (archive_write_close(out) != ARCHIVE_OK)
        return fail(dir + ": " + archive_error_string(out));
    return 0;
}

int usage() {
    std::fputs("usage: ditto SRC DST\n       ditto -x -k ZIP DIR\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // Folders made along the way (an archive need not list them) get no more than keptMode.
    ::umask(~keptMode & 0777);
    if (argc == 5 && std::strcmp(argv[1], "-x") == 0 && std::strcmp(argv[2], "-k") == 0)
        return unpack(argv[3], argv[4]);
    if (argc == 3 && argv[1][0] != '-' && argv[2][0] != '-')
        return copyTree(argv[1], argv[2]);
    return usage();
}
