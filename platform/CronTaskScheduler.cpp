// The job store as one cron file. It does plain file work through the platform's file functions,
// so it builds everywhere (the tests use it on every system); only on POSIX is it the machine's
// store. cron reads its files with LF line ends (a CR would become
// part of the command), so this file, unlike the suite's own, is written with LF.
#include "platform/TaskScheduler.h"

#include "platform/FileSystem.h"

#include <charconv>
#include <limits>
#include <optional>
#include <string_view>

namespace platform {
namespace {

constexpr std::string_view kMarker = " # korvane-delivery job ";
constexpr std::string_view kHeader =
    "# Delivery times of the Korvane MailServer configurator. It rewrites the lines that end in\n"
    "# \"# korvane-delivery job N\" and keeps every other line as it is.\n";

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
    std::uint32_t value = 0;
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The command as cron hands it to the shell: one single-quoted word (an inner quote closed,
// escaped and reopened), then every "%" escaped as "\%". Cron turns an unescaped "%" into a
// line break and removes only the backslash of "\%"; every other backslash reaches the shell.
std::string QuoteCommand(std::string_view command) {
    std::string quoted = "'";
    for (char c : command) {
        if (c == '\'')
            quoted += "'\\''";
        else if (c == '%')
            quoted += "\\%";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

// The reverse of QuoteCommand; nothing for a text it cannot have written.
std::optional<std::string> UnquoteCommand(std::string_view text) {
    std::string unescaped;
    unescaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '%') {
            unescaped += '%';
            ++i;
        } else if (text[i] == '%') {
            return std::nullopt;
        } else {
            unescaped += text[i];
        }
    }
    std::string_view rest = unescaped;
    if (rest.size() < 2 || rest.front() != '\'' || rest.back() != '\'')
        return std::nullopt;
    rest = rest.substr(1, rest.size() - 2);
    std::string command;
    command.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '\'') {
            command += rest[i];
            continue;
        }
        if (rest.substr(i, 4) != "'\\''")
            return std::nullopt;
        command += '\'';
        i += 3;
    }
    return command;
}

// One of our lines: "M H * * * USER COMMAND # korvane-delivery job ID". Nothing for any other
// line, which then stays as it is.
std::optional<ScheduledJob> ParseJobLine(std::string_view line) {
    const std::size_t marker = line.rfind(kMarker);
    if (marker == std::string_view::npos)
        return std::nullopt;
    const std::optional<std::uint32_t> id = ParseNumber(line.substr(marker + kMarker.size()));
    if (!id)
        return std::nullopt;
    std::string_view fields = line.substr(0, marker);
    auto nextField = [&fields]() -> std::string_view {
        const std::size_t blank = fields.find(' ');
        const std::string_view field = fields.substr(0, blank);
        fields = blank == std::string_view::npos ? std::string_view() : fields.substr(blank + 1);
        return field;
    };
    const std::optional<std::uint32_t> minute = ParseNumber(nextField());
    const std::optional<std::uint32_t> hour = ParseNumber(nextField());
    if (!minute || !hour || *minute > 59 || *hour > 23)
        return std::nullopt;
    if (nextField() != "*" || nextField() != "*" || nextField() != "*" || nextField().empty())
        return std::nullopt;
    std::optional<std::string> command = UnquoteCommand(fields);
    if (!command)
        return std::nullopt;
    return ScheduledJob{*id, (*hour * 60 + *minute) * 60000, std::move(*command)};
}

class CronTaskScheduler : public TaskScheduler {
public:
    CronTaskScheduler(std::string path, std::string user)
        : m_path(std::move(path)), m_user(std::move(user)) {}

    bool List(std::vector<ScheduledJob>& jobs) override {
        jobs.clear();
        std::vector<Line> lines;
        if (!Read(lines))
            return false;
        for (Line& line : lines)
            if (line.job)
                jobs.push_back(std::move(*line.job));
        return true;
    }

    bool Add(std::uint32_t jobTime, const std::string& command, std::uint32_t& id) override {
        if (jobTime >= kMillisecondsPerDay || jobTime % 60000 != 0 || command.empty() ||
            command.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos ||
            // A backslash right before a "%" would read as the escape of that "%".
            command.find("\\%") != std::string::npos)
            return false;
        std::vector<Line> lines;
        if (!Read(lines))
            return false;
        std::uint32_t highest = 0;
        for (const Line& line : lines)
            if (line.job && line.job->id > highest)
                highest = line.job->id;
        if (highest == std::numeric_limits<std::uint32_t>::max())
            return false;
        const std::uint32_t newId = highest + 1;
        const std::uint32_t minutes = jobTime / 60000;
        Line line;
        line.text = std::to_string(minutes % 60) + ' ' + std::to_string(minutes / 60) + " * * * " +
                    m_user + ' ' + QuoteCommand(command) + std::string(kMarker) +
                    std::to_string(newId);
        lines.push_back(std::move(line));
        if (!Write(lines))
            return false;
        id = newId;
        return true;
    }

    bool Remove(std::uint32_t id) override {
        std::vector<Line> lines;
        if (!Read(lines))
            return false;
        for (auto it = lines.begin(); it != lines.end(); ++it) {
            if (it->job && it->job->id == id) {
                lines.erase(it);
                return Write(lines);
            }
        }
        return false;
    }

private:
    struct Line {
        std::string text; // as it stands in the file, without its line break
        std::optional<ScheduledJob> job;
    };

    // A missing file holds no jobs; one that exists but cannot be read is a failure, so that
    // nothing is written over it.
    bool Read(std::vector<Line>& lines) {
        lines.clear();
        m_exists = StatPath(m_path).has_value();
        if (!m_exists)
            return true;
        std::string content;
        if (!ReadWholeFile(m_path, content))
            return false;
        std::string_view rest = content;
        while (!rest.empty()) {
            const std::size_t end = rest.find('\n');
            const std::string_view text = rest.substr(0, end);
            lines.push_back(Line{std::string(text), ParseJobLine(text)});
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
        return true;
    }

    bool Write(const std::vector<Line>& lines) {
        std::string content;
        if (!m_exists)
            content = kHeader;
        for (const Line& line : lines) {
            content += line.text;
            content += '\n'; // cron ignores a last line without one
        }
        // cron refuses files that others may write.
        return WriteFileAtomic(m_path, content, 0644);
    }

    std::string m_path;
    std::string m_user;
    bool m_exists = false;
};

} // namespace

std::unique_ptr<TaskScheduler> CreateCronTaskScheduler(const std::string& path,
                                                       const std::string& user) {
    return std::make_unique<CronTaskScheduler>(path, user);
}

} // namespace platform
