// A program that checks what Winsock gives it (layer_conformance.exe) gets the same answers
// over the drop-in alone, with the Kestrix layer installed and no viewer, and traced by
// kestrixrun at every detail level: the layer changes nothing the program sees.
#include "Installer.h"
#include "ViewerSession.h"

namespace {

const char ConformanceProgram[] = "layer_conformance.exe";
const char ProgramOutput[] = "e2e-conformance.out";
const char* const Levels[] = {"low", "medium", "high"};

// Runs the command line with its output in ProgramOutput; its exit code, or 0xdeadbeef.
DWORD RunWithOutput(const std::string& commandLine)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(ProgramOutput, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return 0xdeadbeef;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    DWORD code = 0xdeadbeef;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &info)) {
        if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(info.hProcess, &code);
        else
            TerminateProcess(info.hProcess, code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    CloseHandle(output);
    return code;
}

std::string LayerPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + "kestrixlayer.dll";
}

} // namespace

TEST(LayerConformance, TheSameAnswersWithAndWithoutTheLayer)
{
    ASSERT_EQ(0, LayerEntries()) << "a layer is left in the catalog";
    EXPECT_EQ(0u, RunWithOutput(ConformanceProgram))
        << "over the drop-in alone\n" << ReadWholeFile(ProgramOutput);

    std::string note;
    ASSERT_NE(-1, InstallLayerEverywhere(LayerPath().c_str(), "Kestrix", &note)) << note;
    EXPECT_EQ(0u, RunWithOutput(ConformanceProgram))
        << "with the layer, untraced\n" << ReadWholeFile(ProgramOutput);
    EXPECT_EQ(0, RemoveLayerEverywhere());

    for (const char* level : Levels)
        EXPECT_EQ(0u, RunWithOutput(std::string("kestrixrun.exe --detail ") + level +
                                    " --output e2e-conformance.txt " + ConformanceProgram))
            << "traced at " << level << "\n" << ReadWholeFile(ProgramOutput);
    EXPECT_EQ(0, LayerEntries());
}
