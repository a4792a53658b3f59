// The counter labels: Created, Closed, Current, Received and Sent. Under a flood of records a
// label's text changes with every record, and giving a static control its text is a trip to the
// window server that costs as much as the record. So a new count is kept here, the labels answer
// WM_GETTEXT with it at once, and the controls are given their texts and painted at the next
// display tick.
#include "Form1.h"

#include <cstring>

#include "CountFormat.h"

namespace {

// Paints changed counter labels once, an update interval after the first change.
const UINT_PTR LabelPaintTimerId = 3;

WNDPROC staticWindowProc;   // the proc every static control shares

LRESULT CALLBACK CounterLabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam)
{
    TForm1* form = FormOfWindow(GetParent(label));
    const std::string* text = form && (message == WM_GETTEXT || message == WM_GETTEXTLENGTH)
                                  ? form->PendingLabelText(label)
                                  : nullptr;
    if (!text)
        return CallWindowProcA(staticWindowProc, label, message, wParam, lParam);
    if (message == WM_GETTEXTLENGTH)
        return LRESULT(text->size());
    if (wParam == 0 || !lParam)
        return 0;
    size_t copied = text->size() < wParam - 1 ? text->size() : wParam - 1;
    memcpy(reinterpret_cast<char*>(lParam), text->data(), copied);
    reinterpret_cast<char*>(lParam)[copied] = 0;
    return LRESULT(copied);
}

}  // namespace

void TForm1::SubclassCounterLabels()
{
    for (HWND label : {LabelSCreated, LabelSClosed, LabelSCurrent, LabelTransRecvd, LabelTransSent}) {
        WNDPROC previous = WNDPROC(SetWindowLongPtrA(label, GWLP_WNDPROC, LONG_PTR(CounterLabelProc)));
        if (!staticWindowProc)
            staticWindowProc = previous;
    }
}

const std::string* TForm1::PendingLabelText(HWND label) const
{
    for (const PendingLabel& pending : pendingLabels)
        if (pending.label == label)
            return &pending.text;
    return nullptr;
}

void TForm1::FormatCount(HWND label, int32_t value)
{
    if (!LabelsChanged()) {
        LabelsChangedAt = GetTickCount();
        // the display tick paints them; when no lines wait for it (or Log File Only), their own
        if (!DisplayTimer)
            SetTimer(Handle, LabelPaintTimerId, UINT(UpdateInterval), nullptr);
    }
    for (PendingLabel& pending : pendingLabels)
        if (pending.label == label) {
            pending.text = FormatCountText(value);
            return;
        }
    pendingLabels.push_back({label, FormatCountText(value)});
}

void TForm1::PaintCounterLabels()
{
    // DefWindowProc stores the text without the control's own paint, which follows once for
    // each label that changed
    for (const PendingLabel& pending : pendingLabels) {
        DefWindowProcA(pending.label, WM_SETTEXT, 0, LPARAM(pending.text.c_str()));
        RedrawWindow(pending.label, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    pendingLabels.clear();
}
