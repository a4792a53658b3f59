// kestrix.exe: the viewer's main window and its message loop.
#include "Application.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    TForm1* form = nullptr;
    int result = 0;
    try {
        form = TForm1::Create(instance);
        form->QuitOnDestroy = true;
        ShowWindow(form->Handle, show);
        UpdateWindow(form->Handle);
        result = RunApplication(form);
    } catch (const std::exception& error) {
        MessageBoxA(form ? form->Handle : nullptr, error.what(), MainWindowCaption, MB_OK | MB_ICONERROR);
        result = 1;
    }
    delete form;
    return result;
}
