#include "TraceHistories.h"

#include <algorithm>
#include <map>
#include <regex>

bool IsConnectionOrControlLine(const std::string& line)
{
    static const std::regex call("^socket \\(-?[0-9]+\\) (bound|could not be bound|"
                                 "(could not be )?established for listening|"
                                 "(could not )?determine[ds]? its|connecting|connected|"
                                 "could not connect|(could not )?set its default address|"
                                 "(could not )?request(ed)? message-based|"
                                 "(could not )?specif(y|ied) an event object|"
                                 "(could not )?(set|retrieve[d]?) one of its options|"
                                 "(could not )?disabled? its (sends|receives)|"
                                 "(could not )?(en|dis)abled? its nonblocking mode|"
                                 "(could not determine how many bytes|can receive [0-9]+ bytes)|"
                                 "(could not determine whether|does not have any|has) OOB)");
    return std::regex_search(line, call);
}

namespace {

const char DeferredCloseSuffix[] = " will be closed when outstanding asynchronous calls finish";
const char DeferredClosePrefix[] = "async calls finished, ";

}  // namespace

std::vector<History> Histories(const std::vector<std::string>& lines, bool withConnectionLines)
{
    static const std::regex socketNumber("socket \\((-?[0-9]+)\\)");
    static const std::regex port("127\\.0\\.0\\.1:[0-9]+");
    std::map<std::string, History> open;
    std::vector<History> histories;
    std::string last;
    bool inside = false;
    for (const std::string& line : lines) {
        if (line.rfind("process attached", 0) == 0)
            inside = true;
        if (!inside || line.rfind("process ", 0) == 0)
            continue;
        if (!withConnectionLines && IsConnectionOrControlLine(line))
            continue;
        std::smatch match;
        if (!std::regex_search(line, match, socketNumber)) {
            if (open.count(last))
                open[last].push_back(line);
            continue;
        }
        last = match[1];
        std::string suffix = match.suffix().str();
        if (suffix == DeferredCloseSuffix)
            continue;
        std::string prefix = match.prefix().str() == DeferredClosePrefix ? "" : match.prefix().str();
        std::string text = prefix + "socket (N)" + std::regex_replace(suffix, std::regex("\\(-?[0-9]+\\)"), "(M)");
        open[last].push_back(std::regex_replace(text, port, "127.0.0.1:PORT"));
        if (text.find(") closed") != std::string::npos) {
            histories.push_back(open[last]);
            open.erase(last);
        }
    }
    for (auto& entry : open)
        histories.push_back(entry.second);
    std::sort(histories.begin(), histories.end());
    return histories;
}


std::vector<std::vector<std::string>> ProcessesOf(const std::vector<std::string>& lines)
{
    std::vector<std::vector<std::string>> processes;
    for (const std::string& line : lines) {
        if (line.rfind("process attached", 0) == 0)
            processes.emplace_back();
        if (!processes.empty())
            processes.back().push_back(line);
    }
    return processes;
}
