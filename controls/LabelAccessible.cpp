#include "controls/LabelAccessible.h"

#include <oleacc.h>

#include <new>
#include <string>

#include "system/SystemEntry.h"

namespace telvio {

namespace {

using CreateStdObjectCall = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using ResultFromObjectCall = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using AllocStringCall = BSTR(WINAPI*)(const OLECHAR*, UINT);
using NotifyWinEventCall = void(WINAPI*)(DWORD, HWND, LONG, LONG);
using CoInitializeCall = HRESULT(WINAPI*)(void*);

struct Oleacc {
    CreateStdObjectCall createStdObject = nullptr;
    ResultFromObjectCall resultFromObject = nullptr;
    AllocStringCall allocString = nullptr;
    CoInitializeCall initialize = nullptr;
};

// Loaded on the first question and kept: an object handed to a reader may be called
// until the process ends.
const Oleacc& LoadOleacc() {
    static Oleacc calls;
    static bool tried = false;
    if (!tried) {
        tried = true;
        // oleacc is no KnownDLL: by bare name, one lying beside the program would run
        // with its rights.
        HMODULE oleacc = LoadSystemLibrary("oleacc.dll");
        // oleacc itself needs oleaut32, so wherever the one is the other is too.
        HMODULE oleaut = oleacc ? LoadSystemLibrary("oleaut32.dll") : nullptr;
        HMODULE ole32 = oleacc ? LoadSystemLibrary("ole32.dll") : nullptr;
        Oleacc found;
        found.createStdObject =
            SystemEntry<CreateStdObjectCall>(oleacc, "CreateStdAccessibleObject");
        found.resultFromObject = SystemEntry<ResultFromObjectCall>(oleacc, "LresultFromObject");
        found.allocString = SystemEntry<AllocStringCall>(oleaut, "SysAllocStringLen");
        found.initialize = SystemEntry<CoInitializeCall>(ole32, "CoInitialize");
        if (found.createStdObject && found.resultFromObject && found.allocString &&
            found.initialize) {
            calls = found;
        }
    }
    return calls;
}

// The objects handed to readers live in this thread's apartment, which ends when its
// count of starts falls to 0 (the taskbar list gives back its own start when it closes).
// So one start per thread is taken here and kept for the thread's life, whether COM was
// already started or not; the thread's mark keeps it from being counted again.
void KeepComStarted(CoInitializeCall initialize) {
    static const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) {
        // No mark to keep: a start on every question, never given back, still holds.
        initialize(nullptr);
        return;
    }
    if (TlsGetValue(slot) != nullptr) return;
    // RPC_E_CHANGED_MODE: the thread is in the multithreaded apartment, whose life is
    // not ours to count.
    if (SUCCEEDED(initialize(nullptr))) TlsSetValue(slot, reinterpret_cast<void*>(1));
}

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

void SetLong(VARIANT* out, LONG value) {
    out->vt = VT_I4;
    out->lVal = value;
}

// The standard object with four answers of its own; everything else, and every question
// about a child, is the standard object's.
class LabelObject final : public IAccessible {
  public:
    LabelObject(HWND label, IAccessible* standard, AllocStringCall allocString)
        : label_(label), standard_(standard), allocString_(allocString) {
        standard_->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) ||
            iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Counted atomically: an in-process reader may release from any thread.
    ULONG STDMETHODCALLTYPE AddRef() override {
        return __atomic_add_fetch(&references_, 1, __ATOMIC_ACQ_REL);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = __atomic_sub_fetch(&references_, 1, __ATOMIC_ACQ_REL);
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return standard_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        return standard_->Invoke(id, iid, locale, flags, params, result, exception, badArgument);
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child)) return standard_->get_accName(child, name);
        if (name == nullptr) return E_INVALIDARG;
        *name = nullptr;
        if (!IsWindow(label_)) return E_FAIL;
        // The label answers from its own copy of the text, the one it paints.
        const LRESULT length = SendMessageA(label_, WM_GETTEXTLENGTH, 0, 0);
        if (length <= 0) return S_FALSE;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        const int got = static_cast<int>(
            SendMessageA(label_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
        if (got <= 0) return S_FALSE;
        // Converted straight into the string handed out: no wide string class, whose
        // library copy is not built for the Pentium.
        const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), got, nullptr, 0);
        if (wide <= 0) return E_FAIL;
        BSTR converted = allocString_(nullptr, static_cast<UINT>(wide));
        if (converted == nullptr) return E_OUTOFMEMORY;
        MultiByteToWideChar(CP_ACP, 0, text.data(), got, converted, wide);
        *name = converted;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!IsSelf(child)) return standard_->get_accRole(child, role);
        if (role == nullptr) return E_INVALIDARG;
        SetLong(role, ROLE_SYSTEM_STATICTEXT);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!IsSelf(child)) return standard_->get_accState(child, state);
        if (state == nullptr) return E_INVALIDARG;
        // Whether it can be seen and whether it is greyed out stay the window's; a text
        // is never anything the user can change or focus.
        constexpr LONG kKept =
            STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN | STATE_SYSTEM_UNAVAILABLE;
        VARIANT standard;
        standard.vt = VT_EMPTY;
        LONG bits = 0;
        if (SUCCEEDED(standard_->get_accState(child, &standard)) && standard.vt == VT_I4) {
            bits = standard.lVal & kKept;
        }
        SetLong(state, bits | STATE_SYSTEM_READONLY);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        if (!IsSelf(child)) return standard_->get_accKeyboardShortcut(child, shortcut);
        if (shortcut == nullptr) return E_INVALIDARG;
        // An ampersand in a label's text is text, not an access key.
        *shortcut = nullptr;
        return S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return standard_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        return standard_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return standard_->get_accHelp(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
        return standard_->get_accFocus(child);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

  private:
    ~LabelObject() { standard_->Release(); }

    ULONG references_ = 1;
    HWND label_;  // the text is asked of the window: the object may outlive the label
    IAccessible* standard_;
    AllocStringCall allocString_;
};

}  // namespace

bool AnswerLabelObject(HWND label, WPARAM wParam, LPARAM lParam, LRESULT* answer) {
    // The object id travels in the low 32 bits, sign-extended or not.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) return false;
    const Oleacc& oleacc = LoadOleacc();
    if (oleacc.createStdObject == nullptr) return false;
    // The object is handed over through COM, which needs an apartment on this thread for
    // as long as the reader may call it.
    KeepComStarted(oleacc.initialize);
    void* made = nullptr;
    if (FAILED(oleacc.createStdObject(label, OBJID_CLIENT, __uuidof(IAccessible), &made)) ||
        made == nullptr) {
        return false;
    }
    auto* standard = static_cast<IAccessible*>(made);
    auto* object = new (std::nothrow) LabelObject(label, standard, oleacc.allocString);
    standard->Release();
    if (object == nullptr) return false;
    const LRESULT result = oleacc.resultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    // A failure comes back as a negative HRESULT; the default handling answers then.
    if (result <= 0) return false;
    *answer = result;
    return true;
}

void AnnounceNameChange(HWND label) {
    static NotifyWinEventCall notify = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        notify = SystemEntry<NotifyWinEventCall>(GetModuleHandleA("user32.dll"), "NotifyWinEvent");
    }
    if (notify != nullptr && label != nullptr) {
        notify(EVENT_OBJECT_NAMECHANGE, label, OBJID_CLIENT, CHILDID_SELF);
    }
}

}  // namespace telvio
