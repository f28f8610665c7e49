#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "test_files.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using json = nlohmann::ordered_json;

struct QvrRun { int status; std::string out, err; };

std::string ReadFile(const std::string& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

class CliTest : public ::testing::Test {
protected:
    std::string Fixture(const std::string& name, const Bytes& bytes) { return temp_.Write(name, bytes); }

    // Runs qvr with `args`, its output and errors captured in files of the fixture folder.
    QvrRun Qvr(const std::vector<std::string>& args, const char* asanOptions = "detect_leaks=0")
    {
        std::string outPath = dir_ + "/.stdout", errPath = dir_ + "/.stderr";
        pid_t child = fork();
        if (child == 0) {
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(err, 2);
            setenv("ASAN_OPTIONS", asanOptions, 1);
            setenv("G_SLICE", "always-malloc", 1); // objects GLib keeps in slices stay visible to LSan
            std::vector<char*> argv{const_cast<char*>(QVR_BINARY)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(QVR_BINARY, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outPath), ReadFile(errPath)};
    }

    static std::vector<json> JsonLines(const std::string& out)
    {
        std::vector<json> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(json::parse(line)); // throws, failing the test, on invalid JSON
        return lines;
    }

    TempDir temp_;
    const std::string dir_ = temp_.path.string();
};

TEST_F(CliTest, TextShowsWhatTheDialogShows)
{
    std::string bmp = Fixture("cat.bmp", Bmp(640, uint32_t(-480), 8));
    QvrRun run = Qvr({bmp});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::string expected = u8"cat.bmp - QVR Version 1.0\n"
                           u8"  cat.bmp\n";
    ASSERT_EQ(run.out.substr(0, expected.size()), expected);
    // The type line comes from the system's MIME database; the rest is fixed.
    EXPECT_NE(run.out.find(u8"\n  サイズ    54 Byte\n"
                           u8"  スケール  640 × -480 Pixel\n"
                           u8"  色数      256 色\n"),
              std::string::npos)
        << run.out;
}

// Whole objects compared as parsed, in order, so the keys and their order are checked too. The
// type texts come from the system's MIME database: only their presence is checked.
json Fixed(json line)
{
    EXPECT_TRUE(line["typeName"].is_string() && line["texts"]["type"].is_string()) << line;
    line["typeName"] = line["texts"]["type"] = "*";
    return line;
}

json Expected(const std::string& path, int result, const std::string& name, int size, int width,
              int height, int depth, int flags, const std::string& caption, const std::string& sizeText,
              const std::string& scale, const std::string& colors)
{
    return {{"path", path}, {"result", result}, {"name", name}, {"typeName", "*"}, {"fileSize", size},
            {"width", width}, {"height", height}, {"depth", depth}, {"flags", flags}, {"caption", caption},
            {"texts", {{"name", name}, {"type", "*"}, {"size", sizeText}, {"scale", scale}, {"colors", colors}}}};
}

TEST_F(CliTest, JsonHasExactlyTheListedKeys)
{
    std::string png = Fixture("a.png", Png(1234567, 1));
    std::string gif = Fixture("b.GIF", Gif(320, 200));
    std::string text = Fixture("notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    std::string missing = dir_ + "/gone.bmp";
    QvrRun run = Qvr({"--json", png, gif, text, missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("gone.bmp"), std::string::npos) << run.err;
    std::vector<json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Fixed(lines[0]), Expected(png, 1, "a.png", 33, 1234567, 1, 24, 0, "a.png - QVR Version 1.0",
                                        "33 Byte", u8"1,234,567 × 1 Pixel", u8"24 ビットカラー"));
    EXPECT_EQ(Fixed(lines[1]), Expected(gif, 1, "b.GIF", 13, 320, 200, 8, 0, "b.GIF - QVR Version 1.0",
                                        "13 Byte", u8"320 × 200 Pixel", u8"256 色"));
    EXPECT_EQ(Fixed(lines[2]), Expected(text, 0, "notes.txt", 6, 0, 0, 0, 0x30, "notes.txt - QVR Version 1.0",
                                        "6 Byte", u8"未サポート", u8"未サポート"));
    json gone = Expected(missing, 0, u8"ファイル名が不正です。", 0, 0, 0, 0, 0x01 | 0x02 | 0x08, "QVR Version 1.0",
                         "??? Byte", u8"??? × ??? Pixel", u8"??? 色");
    gone["typeName"] = gone["texts"]["type"] = u8"ファイルタイプを取得できません。";
    EXPECT_EQ(lines[3], gone);
}

TEST_F(CliTest, NamesThatAreNotUtf8OrHoldControlCharacters)
{
    std::string invalid = Fixture("bad\xFF\xFE.png", Png(2, 3));
    std::string control = Fixture("ctl\n\x1B[31m\x7F.gif", Gif(4, 5));

    QvrRun asJson = Qvr({"--json", invalid, control});
    EXPECT_EQ(asJson.status, 0);
    std::vector<json> lines = JsonLines(asJson.out); // valid JSON, valid UTF-8
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["path"], dir_ + u8"/bad\uFFFD\uFFFD.png");
    EXPECT_EQ(lines[0]["texts"]["scale"], u8"2 × 3 Pixel");
    EXPECT_EQ(lines[1]["path"], control);
    EXPECT_EQ(lines[1]["name"], "ctl\n\x1B[31m\x7F.gif");
    EXPECT_EQ(lines[1]["texts"]["scale"], u8"4 × 5 Pixel");

    QvrRun text = Qvr({invalid, control});
    EXPECT_EQ(text.status, 0);
    // The terminal gets no raw control character but the line ends.
    for (char c : text.out)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    EXPECT_EQ(text.out.find('\x7F'), std::string::npos);
    EXPECT_NE(text.out.find(u8"  ctl\u240A\u241B[31m\u2421.gif\n"), std::string::npos) << text.out;
    EXPECT_TRUE(nlohmann::json::accept("\"" + std::regex_replace(text.out, std::regex("\n"), " ") + "\""))
        << "not valid UTF-8";
}

TEST_F(CliTest, ExitStatuses)
{
    std::string found = Fixture("here.bmp", Bmp(1, 1, 24));
    std::string missing = dir_ + "/gone.bmp";
    Fixture("-x.bmp", Bmp(7, 9, 1));
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    // `out`: the start of standard output; `err`: a part of standard error.
    const struct { std::vector<std::string> args; int status; const char *out, *err; } cases[] = {
        {{}, 2, "", "no file given"},
        {{"--json"}, 2, "", "no file given"},
        {{"--frobnicate", found}, 2, "", "unknown option '--frobnicate'"},
        {{"--help"}, 0, "Usage: qvr", ""},
        {{"--version"}, 0, "QVR Version 1.0\n", ""},
        {{found}, 0, "here.bmp - QVR Version 1.0\n", ""},
        {{missing}, 1, "QVR Version 1.0\n", "no such file"},
        {{"-x.bmp"}, 2, "", "unknown option '-x.bmp'"},
        // After "--" every argument is a path, "--json" too.
        {{"--json", "--", "-x.bmp", "--json"}, 1, "{\"path\":\"-x.bmp\",\"result\":1,", "--json: no such file"},
    };
    for (const auto& c : cases) {
        QvrRun r = Qvr(c.args);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(Qvr({"--version"}).out, "QVR Version 1.0\n");
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(CliTest, ManyPathsInOrder)
{
    std::vector<std::string> args{"--json"};
    for (int i = 0; i < 300; ++i) {
        std::string name = "f" + std::to_string(i) + (i % 3 == 0 ? ".bmp" : i % 3 == 1 ? ".png" : ".gif");
        unsigned width = static_cast<unsigned>(i + 1);
        args.push_back(Fixture(name, i % 3 == 0 ? Bmp(width, 2, 32) : i % 3 == 1 ? Png(width, 2) : Gif(width, 2)));
    }
    QvrRun run = Qvr(args);
    EXPECT_EQ(run.status, 0);
    std::vector<json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(lines[i]["path"], args[i + 1]);
        EXPECT_EQ(lines[i]["width"], i + 1);
    }
    // Text output: one block per file, a blank line between blocks, none at the end.
    QvrRun text = Qvr(std::vector<std::string>(args.begin() + 1, args.begin() + 4));
    EXPECT_EQ(std::regex_replace(text.out, std::regex("[^\n]"), "").size(), 3u * 6 + 2);
    EXPECT_EQ(text.out.find("\n\n\n"), std::string::npos);
    EXPECT_NE(text.out.substr(text.out.size() - 2), "\n\n");
}

#if defined(__SANITIZE_ADDRESS__)
// Every probe hands over an icon; the tool gives each one back. What GIO keeps for the life of
// the process is the same for one file as for many, so any growth is a leak per file.
TEST_F(CliTest, ReleasesEveryIcon)
{
    auto leaked = [](const std::string& err) {
        std::smatch match;
        return std::regex_search(err, match, std::regex("SUMMARY: AddressSanitizer: (\\d+) byte"))
                   ? std::stol(match[1])
                   : 0L;
    };
    std::vector<std::string> one{Fixture("x.png", Png(1, 1)), Fixture("y.txt", {'t'})};
    std::vector<std::string> many;
    for (int i = 0; i < 25; ++i)
        many.insert(many.end(), one.begin(), one.end());
    long base = leaked(Qvr(one, "detect_leaks=1:exitcode=0").err);
    EXPECT_EQ(leaked(Qvr(many, "detect_leaks=1:exitcode=0").err), base);
}
#endif

} // namespace
