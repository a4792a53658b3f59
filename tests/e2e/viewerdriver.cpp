// The viewer driver as a command, for scripts such as the demo:
//   viewerdriver find MS                   waits for the viewer's window
//   viewerdriver click Start|Stop|Pause    clicks the button
//   viewerdriver wait-status PANEL TEXT MS waits until the status panel shows TEXT
//   viewerdriver wait-log TEXT MS          waits until the log buffer holds TEXT
//   viewerdriver wait-last-line TEXT MS    waits until TEXT is the log buffer's last line
//   viewerdriver counts                    prints the five counters
//   viewerdriver close-yes MS              closes the viewer, answering Yes to its question
// Exits 0 on success, 1 when the condition did not come true in time.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ControlIds.h"
#include "ViewerDriver.h"

namespace {

struct ButtonName {
    const char* name;
    UINT id;
};
const ButtonName Buttons[] = {{"Start", Id::ButtonStart}, {"Stop", Id::ButtonStop}, {"Pause", Id::ButtonPause}};

int Usage()
{
    fprintf(stderr, "usage: viewerdriver find MS | click Start|Stop|Pause | wait-status PANEL TEXT MS |"
                    " wait-log TEXT MS | wait-last-line TEXT MS | counts | close-yes MS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const char* command = argv[1];
    ViewerDriver viewer;
    DWORD findMs = strcmp(command, "find") == 0 && argc == 3 ? DWORD(atoi(argv[2])) : 5000;
    if (!viewer.Find(0, findMs)) {
        fprintf(stderr, "viewerdriver: no viewer window\n");
        return 1;
    }
    if (strcmp(command, "find") == 0)
        return 0;
    if (strcmp(command, "click") == 0 && argc == 3) {
        for (const ButtonName& button : Buttons)
            if (strcmp(argv[2], button.name) == 0)
                return viewer.Click(button.id) ? 0 : 1;
        return Usage();
    }
    if (strcmp(command, "wait-status") == 0 && argc == 5) {
        int panel = atoi(argv[2]);
        bool shown = WaitUntil([&] { return viewer.StatusText(panel) == argv[3]; }, DWORD(atoi(argv[4])));
        if (!shown)
            fprintf(stderr, "viewerdriver: status panel %d shows \"%s\"\n", panel, viewer.StatusText(panel).c_str());
        return shown ? 0 : 1;
    }
    if (strcmp(command, "wait-log") == 0 && argc == 4) {
        bool shown = WaitUntil([&] { return viewer.Text(Id::Memo1).find(argv[2]) != std::string::npos; },
                               DWORD(atoi(argv[3])));
        return shown ? 0 : 1;
    }
    if (strcmp(command, "wait-last-line") == 0 && argc == 4) {
        auto lastLine = [&] {
            std::string text = viewer.Text(Id::Memo1);
            while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
                text.pop_back();
            size_t start = text.find_last_of("\r\n");
            return start == std::string::npos ? text : text.substr(start + 1);
        };
        bool shown = WaitUntil([&] { return lastLine() == argv[2]; }, DWORD(atoi(argv[3])));
        if (!shown)
            fprintf(stderr, "viewerdriver: the last line is \"%s\"\n", lastLine().c_str());
        return shown ? 0 : 1;
    }
    if (strcmp(command, "counts") == 0) {
        printf("created %s, closed %s, current %s, received %s, sent %s\n", viewer.Text(Id::LabelSCreated).c_str(),
               viewer.Text(Id::LabelSClosed).c_str(), viewer.Text(Id::LabelSCurrent).c_str(),
               viewer.Text(Id::LabelTransRecvd).c_str(), viewer.Text(Id::LabelTransSent).c_str());
        return 0;
    }
    if (strcmp(command, "close-yes") == 0 && argc == 3)
        return viewer.CloseAnsweringYes(DWORD(atoi(argv[2]))) ? 0 : 1;
    return Usage();
}
