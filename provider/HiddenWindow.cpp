#include "HiddenWindow.h"
#include "ProviderState.h"
#include "SocketContext.h"

static const char* const HiddenClassName = "Layered WS2 Provider";
static const char* const HiddenWindowTitle = "Layered Hidden Window";

// Sent by DestroyHiddenWindow; the window destroys itself on its own thread, the only one that
// may. WM_CLOSE from anyone else is ignored, so no other program can end the forwarding.
const UINT HiddenStopMessage = WM_USER + 2;

// A notification whose socket has no context yet is looked up again this often, with a wait
// for a newly linked context between lookups: an accepted socket may be notified before the
// accept has given it its context. With no accept under way no context can still come (the
// socket was closed, its notification already queued), and the notification is dropped at
// once rather than holding up every other socket's for seconds.
const int NotifyLookups = 9;
const DWORD NotifyRetryMilliseconds = 500;

// One hidden thread's own state. It outlives the window: the thread frees it when it ends, or
// the stop does when the thread has ended first, whichever comes last.
struct HiddenThreadState {
    volatile LONG references;   // the thread's and the owner's
    volatile LONG stopping;     // set by the stop: no more retries, destroy at the next chance
    HWND window;
    HANDLE ready;               // released once the window exists or cannot be made
    HANDLE contextAdded;        // the thread's own duplicate: the provider's may be closed
};

// Under mainLock.
HWND hiddenWindow;
HANDLE hiddenThread;
static HiddenThreadState* hiddenState;

static void DropState(HiddenThreadState* state)
{
    if (InterlockedDecrement(&state->references) != 0)
        return;
    if (state->contextAdded)
        CloseHandle(state->contextAdded);
    HeapFree(GetProcessHeap(), 0, state);
}

// Waits a while for a context to be linked, unless the stop has come; FALSE when there is
// nothing more to wait for.
static BOOL WaitForNewContext(HiddenThreadState* state)
{
    if (state->stopping || !state->contextAdded)
        return FALSE;
    DWORD waited = WaitForSingleObject(state->contextAdded, NotifyRetryMilliseconds);
    if (waited == WAIT_OBJECT_0)
        ResetEvent(state->contextAdded);
    return waited == WAIT_OBJECT_0 || waited == WAIT_TIMEOUT;
}

// Posts the application's own message for the socket the provider below names; FALSE when the
// socket never gets a context.
static BOOL ForwardNotification(HiddenThreadState* state, SOCKET lowerSocket, LPARAM lParam)
{
    for (int lookup = 0; lookup < NotifyLookups; lookup++) {
        if (lookup > 0 && !WaitForNewContext(state))
            return FALSE;
        // Read before the lookup, so that an accept which links the socket in between is not
        // taken for none.
        BOOL acceptUnderWay = socketsBeingAccepted != 0;
        SocketContext* context = FindContextByLowerSocket(nullptr, lowerSocket);
        if (!context && !acceptUnderWay)
            return FALSE;
        if (!context)
            continue;
        LockContext(context);
        HWND window = context->asyncWindow;
        UINT message = context->asyncMessage;
        SOCKET handle = context->layeredHandle;
        UnlockContext(context);
        int error = 0;
        if (window && handle != INVALID_SOCKET)
            upcallTable.lpWPUPostMessage(window, message, handle, lParam);
        ReleaseContext(context, &error);
        return TRUE;
    }
    return FALSE;
}

static LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<HiddenThreadState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case HiddenNotifyMessage:
        if (state && ForwardNotification(state, static_cast<SOCKET>(wParam), lParam))
            return 0;
        break;
    case HiddenStopMessage:
        DestroyWindow(window);
        return 0;
    case WM_CLOSE:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The class stays registered after a stop only while a window of it still exists; a start
// finds it either gone or registered by this very module.
static BOOL RegisterHiddenClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = HiddenWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = HiddenClassName;
    if (RegisterClassA(&windowClass))
        return TRUE;
    WNDCLASSA present;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS &&
           GetClassInfoA(instance, HiddenClassName, &present) &&
           present.lpfnWndProc == HiddenWindowProc;
}

static HWND MakeHiddenWindow(HINSTANCE instance, HiddenThreadState* state)
{
    // A stopping thread of an earlier start may unregister the class between the two steps;
    // the second round registers it again.
    for (int attempt = 0; attempt < 2; attempt++) {
        if (!RegisterHiddenClass(instance))
            return nullptr;
        HWND window = CreateWindowExA(0, HiddenClassName, HiddenWindowTitle, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      nullptr, nullptr, instance, nullptr);
        if (window) {
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
            return window;
        }
        if (GetLastError() != ERROR_CANNOT_FIND_WND_CLASS)
            return nullptr;
    }
    return nullptr;
}

static DWORD WINAPI HiddenWindowThread(void* parameter)
{
    auto* state = static_cast<HiddenThreadState*>(parameter);
    // The reference on the module keeps this code loaded until the thread has left it, even
    // when the last cleanup lets the library go first.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&HiddenWindowThread), &module);
    state->window = MakeHiddenWindow(module, state);
    ReleaseSemaphore(state->ready, 1, nullptr);
    if (state->window) {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            // The stop's message may not have fit into a full queue.
            if (state->stopping && IsWindow(state->window))
                DestroyWindow(state->window);
        }
        // Gone with the last window of it, so that a later load of the library at another
        // address never finds a class that points at the old one.
        UnregisterClassA(HiddenClassName, module);
    }
    DropState(state);
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

static void ForgetHiddenThread()
{
    if (hiddenThread)
        CloseHandle(hiddenThread);
    if (hiddenState)
        DropState(hiddenState);
    hiddenWindow = nullptr;
    hiddenThread = nullptr;
    hiddenState = nullptr;
}

HWND EnsureHiddenWindow()
{
    // A thread that ended without being asked (a stray WM_QUIT) leaves a window that is no more.
    if (hiddenWindow && IsWindow(hiddenWindow))
        return hiddenWindow;
    ForgetHiddenThread();
    auto* state = static_cast<HiddenThreadState*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(HiddenThreadState)));
    if (!state)
        return nullptr;
    state->references = 2;
    state->ready = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (!state->ready) {
        HeapFree(GetProcessHeap(), 0, state);
        return nullptr;
    }
    // Without the event a notification that comes early is dropped, but the others still pass.
    if (!contextAddedEvent ||
        !DuplicateHandle(GetCurrentProcess(), contextAddedEvent, GetCurrentProcess(),
                         &state->contextAdded, 0, FALSE, DUPLICATE_SAME_ACCESS))
        state->contextAdded = nullptr;
    HANDLE thread = CreateThread(nullptr, 0, HiddenWindowThread, state, 0, nullptr);
    if (!thread) {
        CloseHandle(state->ready);
        DropState(state);
        DropState(state);
        return nullptr;
    }
    // The new thread needs no lock of ours before it releases the semaphore.
    WaitForSingleObject(state->ready, INFINITE);
    CloseHandle(state->ready);
    state->ready = nullptr;
    hiddenThread = thread;
    hiddenState = state;
    hiddenWindow = state->window;
    if (!hiddenWindow)
        ForgetHiddenThread();
    return hiddenWindow;
}

int DestroyHiddenWindow()
{
    if (hiddenState) {
        hiddenState->stopping = 1;
        PostMessageA(hiddenWindow, HiddenStopMessage, 0, 0);
    }
    ForgetHiddenThread();
    return 0;
}
