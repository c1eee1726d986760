#include "client/win32/toast_platform.h"

#include "core/win32/windows_api.h"

#include <objbase.h>
#include <propidl.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <cwchar>
#include <utility>
#include <vector>

#include "client/win32/system_text.h"
#include "client/win32/windows_version.h"
#include "client/win32/winrt_toasts.h"

namespace korvex::win32 {
namespace {

static_assert(static_cast<std::int32_t>(ToastTemplate::kText01) == winrt::kToastText01 &&
              static_cast<std::int32_t>(ToastTemplate::kText02) == winrt::kToastText02);

// System.AppUserModel.ID: property 5 of its format id.
constexpr PROPERTYKEY kAppUserModelId = {{0x9f4c2855, 0x9f79, 0x4b39, {0xa8, 0xd0, 0xe1, 0xd4, 0x2d, 0xe1, 0xd5, 0xf3}}, 5};

// Owns one COM reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_) pointer_->AddRef();
  }
  ComPtr& operator=(ComPtr other) {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() {
    if (pointer_) pointer_->Release();
  }
  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For an out-parameter; releases what was held.
  T** Put() {
    *this = ComPtr();
    return &pointer_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  template <typename U>
  HRESULT As(const GUID& iid, ComPtr<U>& other) const {
    return pointer_->QueryInterface(iid, other.PutVoid());
  }

 private:
  T* pointer_ = nullptr;
};

void Check(HRESULT result) {
  if (FAILED(result)) ThrowSystemFailure(static_cast<std::uint32_t>(result));
}

// The string functions and the activation of the Windows Runtime, from combase when it exists.
class Runtime {
 public:
  Runtime() : module_(::LoadLibraryW(L"combase.dll")) {
    if (module_ == nullptr) return;
    getFactory_ = Load<GetFactoryFunction>("RoGetActivationFactory");
    createString_ = Load<CreateStringFunction>("WindowsCreateString");
    deleteString_ = Load<DeleteStringFunction>("WindowsDeleteString");
  }
  ~Runtime() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  bool Present() const { return getFactory_ && createString_ && deleteString_; }

  class String {
   public:
    String(const Runtime& runtime, const wchar_t* text, std::size_t length) : runtime_(runtime) {
      Check(runtime_.createString_(text, static_cast<UINT32>(length), &handle_));
    }
    ~String() {
      if (handle_ != nullptr) runtime_.deleteString_(handle_);
    }
    String(const String&) = delete;
    String& operator=(const String&) = delete;
    HSTRING Get() const { return handle_; }

   private:
    const Runtime& runtime_;
    HSTRING handle_ = nullptr;
  };

  String Make(const Text& text) const { return String(*this, W(text), text.size()); }
  String Make(const wchar_t* text) const { return String(*this, text, std::wcslen(text)); }

  template <typename T>
  HRESULT Factory(const wchar_t* className, const GUID& iid, ComPtr<T>& factory) const {
    const String name = Make(className);
    return getFactory_(name.Get(), iid, factory.PutVoid());
  }

 private:
  using GetFactoryFunction = HRESULT(WINAPI*)(HSTRING, REFIID, void**);
  using CreateStringFunction = HRESULT(WINAPI*)(const wchar_t*, UINT32, HSTRING*);
  using DeleteStringFunction = HRESULT(WINAPI*)(HSTRING);

  template <typename Function>
  Function Load(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

  HMODULE module_;
  GetFactoryFunction getFactory_ = nullptr;
  CreateStringFunction createString_ = nullptr;
  DeleteStringFunction deleteString_ = nullptr;
};

// One of the toast's three event delegates; the runtime may call it on any thread.
class EventHandler : public winrt::IToastEventHandler {
 public:
  EventHandler(const GUID& iid, std::function<void()> action) : iid_(iid), action_(std::move(action)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, iid_) || IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, winrt::kIidAgileObject)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(winrt::IToastNotification*, IInspectable*) override {
    try {
      if (action_) action_();
    } catch (...) {
      // Nothing may unwind into the runtime's thread.
    }
    return S_OK;
  }

 private:
  virtual ~EventHandler() = default;

  GUID iid_;
  std::function<void()> action_;
  std::atomic<ULONG> references_{1};
};

class WinRtToast : public Toast {
 public:
  explicit WinRtToast(ComPtr<winrt::IToastNotification> toast) : toast_(std::move(toast)) {}
  ~WinRtToast() override {
    if (activated_) toast_->remove_Activated(activatedToken_);
    if (dismissed_) toast_->remove_Dismissed(dismissedToken_);
    if (failed_) toast_->remove_Failed(failedToken_);
  }

  void Subscribe(ToastEvents events) {
    Check(toast_->add_Activated(Handler(winrt::kIidToastActivatedHandler, std::move(events.activated)).Get(),
                                &activatedToken_));
    activated_ = true;
    Check(toast_->add_Dismissed(Handler(winrt::kIidToastDismissedHandler, std::move(events.dismissed)).Get(),
                                &dismissedToken_));
    dismissed_ = true;
    Check(toast_->add_Failed(Handler(winrt::kIidToastFailedHandler, std::move(events.failed)).Get(),
                             &failedToken_));
    failed_ = true;
  }
  winrt::IToastNotification* Get() const { return toast_.Get(); }

 private:
  static ComPtr<winrt::IToastEventHandler> Handler(const GUID& iid, std::function<void()> action) {
    ComPtr<winrt::IToastEventHandler> handler;
    *handler.Put() = new EventHandler(iid, std::move(action));
    return handler;
  }

  ComPtr<winrt::IToastNotification> toast_;
  EventRegistrationToken activatedToken_{}, dismissedToken_{}, failedToken_{};
  bool activated_ = false, dismissed_ = false, failed_ = false;
};

class WinRtNotifier : public ToastNotifier {
 public:
  WinRtNotifier(std::shared_ptr<const Runtime> runtime, ComPtr<winrt::IToastNotificationManagerStatics> manager,
                ComPtr<winrt::IToastNotifier> notifier)
      : runtime_(std::move(runtime)), manager_(std::move(manager)), notifier_(std::move(notifier)) {}

  std::unique_ptr<Toast> CreateToast(const ToastContent& content, ToastEvents events) override {
    ComPtr<winrt::IXmlDocument> document;
    Check(manager_->GetTemplateContent(static_cast<winrt::ToastTemplateType>(content.kind), document.Put()));
    ComPtr<winrt::IXmlNodeList> textElements;
    Check(document->GetElementsByTagName(runtime_->Make(L"text").Get(), textElements.Put()));
    for (std::size_t i = 0; i < content.texts.size(); ++i) {
      ComPtr<winrt::IXmlNode> element;
      Check(textElements->Item(static_cast<UINT32>(i), element.Put()));
      ComPtr<winrt::IXmlText> text;
      Check(document->CreateTextNode(runtime_->Make(content.texts[i]).Get(), text.Put()));
      ComPtr<winrt::IXmlNode> textNode;
      Check(text.As(winrt::kIidXmlNode, textNode));
      ComPtr<winrt::IXmlNode> appended;
      Check(element->AppendChild(textNode.Get(), appended.Put()));
    }
    ComPtr<winrt::IXmlNodeSelector> selector;
    Check(document.As(winrt::kIidXmlNodeSelector, selector));
    ComPtr<winrt::IXmlNode> toastNode;
    Check(selector->SelectSingleNode(runtime_->Make(L"/toast").Get(), toastNode.Put()));
    if (!toastNode) Check(E_UNEXPECTED);
    ComPtr<winrt::IXmlElement> toastElement;
    Check(toastNode.As(winrt::kIidXmlElement, toastElement));
    Check(toastElement->SetAttribute(runtime_->Make(L"duration").Get(), runtime_->Make(content.duration).Get()));

    ComPtr<winrt::IToastNotificationFactory> factory;
    Check(runtime_->Factory(winrt::kToastNotificationClass, winrt::kIidToastNotificationFactory, factory));
    ComPtr<winrt::IToastNotification> notification;
    Check(factory->CreateToastNotification(document.Get(), notification.Put()));
    auto toast = std::make_unique<WinRtToast>(std::move(notification));
    toast->Subscribe(std::move(events));
    return toast;
  }
  void Show(Toast& toast) override { Check(notifier_->Show(static_cast<WinRtToast&>(toast).Get())); }
  void Hide(Toast& toast) override { Check(notifier_->Hide(static_cast<WinRtToast&>(toast).Get())); }

 private:
  std::shared_ptr<const Runtime> runtime_;
  ComPtr<winrt::IToastNotificationManagerStatics> manager_;
  ComPtr<winrt::IToastNotifier> notifier_;
};

// A NUL-terminated copy for the calls that take one.
std::wstring Wide(const Text& text) { return std::wstring(W(text), text.size()); }

class Win32ToastPlatform : public ToastPlatform {
 public:
  Win32ToastPlatform() {
    const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    comJoined_ = SUCCEEDED(joined);  // S_FALSE too: each success needs its CoUninitialize
  }
  ~Win32ToastPlatform() override {
    if (comJoined_) ::CoUninitialize();
  }

  WindowsVersion Version() override { return SystemWindowsVersion(); }

  Text ProgramPath() override {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
      const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) return Text();
      if (length < buffer.size()) return FromW(buffer.data(), length);
      buffer.resize(buffer.size() * 2);
    }
  }

  std::unique_ptr<ToastNotifier> CreateNotifier(const Text& identity) override {
    auto runtime = std::make_shared<const Runtime>();
    if (!runtime->Present()) return nullptr;
    ComPtr<winrt::IToastNotificationManagerStatics> manager;
    if (FAILED(runtime->Factory(winrt::kToastNotificationManagerClass, winrt::kIidToastNotificationManagerStatics,
                                manager))) {
      return nullptr;
    }
    ComPtr<winrt::IToastNotifier> notifier;
    try {
      if (FAILED(manager->CreateToastNotifierWithId(runtime->Make(identity).Get(), notifier.Put())) || !notifier) {
        return nullptr;
      }
    } catch (const KorError&) {
      return nullptr;  // the identity's string could not be made
    }
    return std::make_unique<WinRtNotifier>(std::move(runtime), std::move(manager), std::move(notifier));
  }

  bool KeyExists(const Text& keyPath) override {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, W(keyPath), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ScopedRegKey owner(key);
    return true;
  }

  bool CreateIdentityKey(const Text& keyPath) override {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, W(keyPath), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    ScopedRegKey owner(key);
    const DWORD show = 1;
    ::RegSetValueExW(key, W(Text(kShowInActionCenter)), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&show),
                     sizeof show);
    return true;
  }

  std::optional<Text> ProgramsFolder() override { return KnownFolder(FOLDERID_Programs); }
  std::optional<Text> CommonProgramsFolder() override { return KnownFolder(FOLDERID_CommonPrograms); }

  std::optional<Text> ShortcutTarget(const Text& linkPath) override {
    const ComPtr<IShellLinkW> link = LoadShortcut(linkPath);
    if (!link) return std::nullopt;
    std::vector<wchar_t> target(32768);
    if (FAILED(link->GetPath(target.data(), static_cast<int>(target.size()), nullptr, 0))) return std::nullopt;
    return FromW(target.data());
  }

  std::optional<Text> ShortcutIdentity(const Text& linkPath) override {
    const ComPtr<IShellLinkW> link = LoadShortcut(linkPath);
    if (!link) return std::nullopt;
    ComPtr<IPropertyStore> properties;
    if (FAILED(link.As(IID_IPropertyStore, properties))) return std::nullopt;
    PROPVARIANT value;
    PropVariantInit(&value);
    std::optional<Text> identity;
    if (SUCCEEDED(properties->GetValue(kAppUserModelId, &value))) {
      identity = value.vt == VT_LPWSTR && value.pwszVal != nullptr ? FromW(value.pwszVal) : Text();
    }
    ::PropVariantClear(&value);
    return identity;
  }

  bool SaveShortcut(const ShortcutSpec& shortcut) override {
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))) {
      return false;
    }
    link->SetPath(Wide(shortcut.target).c_str());
    link->SetWorkingDirectory(Wide(shortcut.workingDirectory).c_str());

    ComPtr<IPropertyStore> properties;
    if (FAILED(link.As(IID_IPropertyStore, properties))) return false;
    PROPVARIANT identity;
    PropVariantInit(&identity);
    const std::size_t bytes = (shortcut.appUserModelId.size() + 1) * sizeof(wchar_t);
    identity.pwszVal = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (identity.pwszVal == nullptr) return false;
    identity.vt = VT_LPWSTR;
    std::copy_n(W(shortcut.appUserModelId), shortcut.appUserModelId.size() + 1, identity.pwszVal);
    const HRESULT set = properties->SetValue(kAppUserModelId, identity);
    ::PropVariantClear(&identity);
    if (FAILED(set) || FAILED(properties->Commit())) return false;

    if (::GetFileAttributesW(W(shortcut.linkPath)) != INVALID_FILE_ATTRIBUTES && !::DeleteFileW(W(shortcut.linkPath))) {
      return false;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link.As(IID_IPersistFile, file))) return false;
    return SUCCEEDED(file->Save(W(shortcut.linkPath), TRUE));
  }

 private:
  static std::optional<Text> KnownFolder(const KNOWNFOLDERID& id) {
    wchar_t* path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, nullptr, &path);
    std::optional<Text> folder;
    if (SUCCEEDED(result) && path != nullptr) folder = FromW(path);
    ::CoTaskMemFree(path);
    return folder;
  }

  // The shell link loaded from the file; null when there is no file or it is no shortcut.
  static ComPtr<IShellLinkW> LoadShortcut(const Text& linkPath) {
    ComPtr<IShellLinkW> link;
    if (::GetFileAttributesW(W(linkPath)) == INVALID_FILE_ATTRIBUTES) return link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))) {
      return ComPtr<IShellLinkW>();
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link.As(IID_IPersistFile, file)) || FAILED(file->Load(W(linkPath), STGM_READ))) {
      return ComPtr<IShellLinkW>();
    }
    return link;
  }

  bool comJoined_ = false;
};

}  // namespace

std::unique_ptr<ToastPlatform> MakeToastPlatform() { return std::make_unique<Win32ToastPlatform>(); }

}  // namespace korvex::win32
