// The component model and string lists: the stand-in for the platform's class library core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/SysUtils.h"

// A method with its object: the shape of a plain notification.
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TComponent;

// The liveness token of a component: a flag shared between the object and the frames of its running
// operations. The object clears it when it goes; a frame holding a copy, whose call out to other code
// destroyed the object, sees that and leaves without touching it. Used on the object's own thread only,
// so the holder count is a plain one and asking is a load.
class TAliveFlag {
public:
  TAliveFlag() : FShared(new TShared) {}
  TAliveFlag(const TAliveFlag& Other) noexcept : FShared(Other.FShared) { ++FShared->Holders; }
  TAliveFlag& operator=(const TAliveFlag& Other) noexcept {
    TAliveFlag copy(Other);
    std::swap(FShared, copy.FShared);
    return *this;
  }
  ~TAliveFlag() {
    if (--FShared->Holders == 0) Free(FShared);
  }
  bool Get() const noexcept { return FShared->Alive; }
  void Clear() noexcept { FShared->Alive = false; }

private:
  struct TShared {
    size_t Holders = 1;
    bool Alive = true;
  };
  static void Free(TShared* Shared) noexcept;
  TShared* FShared;
};

enum TOperation { opInsert, opRemove };

// Component state flags.
enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csDesigning = 1u << 2,
  csDestroying = 1u << 3,
};
using TComponentState = uint32_t;

// A named object with an owner. The owner keeps an ordered list of what it owns and deletes it,
// last created first, when it is deleted itself. Components that asked for a free notice of another
// (FreeNotification) get Notification(other, opRemove) when that other goes away.
// Components are heap objects: delete them (or let their owner do it); never place them on the stack.
// Each carries a liveness token (GetAlive), cleared at the latest when its destructor runs; a derived
// class may clear it earlier in its teardown.
class TComponent : public TObject {
public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  void Destroying() override;
  void BeforeDestruction() override;

  TComponent* GetOwner() const noexcept { return FOwner; }
  const std::string& GetName() const noexcept { return FName; }
  virtual void SetName(const std::string& Value) { FName = Value; }

  int GetComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  TComponent* GetComponent(int Index) const { return FComponents.at(static_cast<size_t>(Index)); }
  int GetComponentIndex() const;
  TComponent* FindComponent(std::string_view AName) const;

  TComponentState GetComponentState() const noexcept { return FComponentState; }
  bool HasState(TComponentStateFlag Flag) const noexcept { return (FComponentState & Flag) != 0; }
  void SetComponentState(TComponentState State) { FComponentState = State; }
  void IncludeState(TComponentStateFlag Flag) { FComponentState |= Flag; }
  void ExcludeState(TComponentStateFlag Flag) { FComponentState &= ~static_cast<uint32_t>(Flag); }

  // Loading from a stored form: BeginLoading sets csLoading|csReading on this component and what it
  // owns; EndLoading clears them and calls Loaded() on each, owner first. Loaded() may run application
  // code that deletes any component: one deleted before its turn is skipped, and when this component
  // itself went, EndLoading ends with the silent abort (EAbort), touching nothing of it.
  void BeginLoading();
  void EndLoading();
  virtual void Loaded();

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  void* Tag = nullptr;

  // The component's liveness token (see TAliveFlag).
  const TAliveFlag& GetAlive() const noexcept { return FAlive; }
  bool IsAlive() const noexcept { return FAlive.Get(); }

protected:
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  TAliveFlag FAlive;

private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void DestroyComponents();
  void RemoveNotification(TComponent* AComponent);
  // EndLoading's walk: false when code it called destroyed this component.
  bool FinishLoading();

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class EStringListError : public Exception {
public:
  using Exception::Exception;
};

using TStringListSortCompare = std::function<int(class TStringList* List, int Index1, int Index2)>;

// An ordered list of strings, each with an optional associated object (not owned).
// Lines of the form NAME=VALUE are split at the first '='. Text joins lines with CR LF and splits
// on CR LF, CR or LF. One ASCII case-insensitive comparison serves sorting and searching.
class TStrings : public TObject {
public:
  TStrings() = default;
  ~TStrings() override = default;

  virtual int Count() const = 0;
  virtual std::string Get(int Index) const = 0;
  virtual void Put(int Index, const std::string& S) = 0;
  virtual TObject* GetObject(int Index) const = 0;
  virtual void PutObject(int Index, TObject* AObject) = 0;
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Insert(int Index, const std::string& S) = 0;
  virtual void InsertObject(int Index, const std::string& S, TObject* AObject);

  virtual int Add(const std::string& S);
  virtual int AddObject(const std::string& S, TObject* AObject);
  void Append(const std::string& S) { Add(S); }
  virtual void AddStrings(const TStrings& Strings);
  virtual void Assign(const TStrings& Source);
  virtual int IndexOf(std::string_view S) const;
  int IndexOfName(std::string_view Name) const;
  int IndexOfObject(const TObject* AObject) const;
  virtual void Move(int CurIndex, int NewIndex);
  virtual void Exchange(int Index1, int Index2);
  bool Equals(const TStrings& Other) const;

  std::string operator[](int Index) const { return Get(Index); }

  // NAME=VALUE access.
  std::string GetName(int Index) const;
  std::string GetValueFromIndex(int Index) const;
  void SetValueFromIndex(int Index, const std::string& Value);
  std::string GetValue(std::string_view Name) const;
  // Sets the value of Name; an empty Value deletes the line.
  void SetValue(std::string_view Name, const std::string& Value);

  std::string GetText() const;
  virtual void SetText(std::string_view Value);
  std::string GetCommaText() const;
  void SetCommaText(std::string_view Value);

  void BeginUpdate();
  void EndUpdate();
  // Ends an update without the change notice (a scope left by an exception): only the count goes back.
  void EndUpdateQuietly() noexcept {
    if (FUpdateCount > 0) --FUpdateCount;
  }
  int GetUpdateCount() const noexcept { return FUpdateCount; }

protected:
  virtual void SetUpdateState(bool /*Updating*/) {}

private:
  int FUpdateCount = 0;
};

// Runs Body between List's BeginUpdate and EndUpdate. The end (and its change notice) runs on the
// normal path, its error reaching the caller; a Body that raises ends the update quietly.
template <class F>
void RunInUpdate(TStrings& List, F&& Body) {
  List.BeginUpdate();
  try {
    Body();
  } catch (...) {
    List.EndUpdateQuietly();
    throw;
  }
  List.EndUpdate();
}

// The concrete string list, with optional sorting and change events.
class TStringList : public TStrings {
public:
  TStringList() = default;
  ~TStringList() override = default;

  int Count() const override { return static_cast<int>(FItems.size()); }
  std::string Get(int Index) const override;
  void Put(int Index, const std::string& S) override;
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  void Clear() override;
  void Delete(int Index) override;
  void Insert(int Index, const std::string& S) override;
  void InsertObject(int Index, const std::string& S, TObject* AObject) override;
  int Add(const std::string& S) override;
  int AddObject(const std::string& S, TObject* AObject) override;
  int IndexOf(std::string_view S) const override;
  void Exchange(int Index1, int Index2) override;
  void Move(int CurIndex, int NewIndex) override;
  void Assign(const TStrings& Source) override;
  void SetText(std::string_view Value) override;

  // Binary search in a sorted list: true when found; Index is the position found or where S
  // would be inserted.
  virtual bool Find(std::string_view S, int& Index) const;
  virtual void Sort();
  void CustomSort(const TStringListSortCompare& Compare);

  bool GetSorted() const noexcept { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates GetDuplicates() const noexcept { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }

  // Fired around every change (not while updating; once for the whole update at EndUpdate).
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool Updating) override;
  // Compare used by sorting and searching (ASCII case-insensitive).
  virtual int CompareStrings(std::string_view A, std::string_view B) const { return CompareText(A, B); }

private:
  struct TItem {
    std::string S;
    TObject* Obj = nullptr;
  };
  void CheckIndex(int Index, bool AllowEnd = false) const;
  void InsertItem(int Index, const std::string& S, TObject* AObject);
  void QuickSort(int L, int R, const TStringListSortCompare& Compare);

  std::vector<TItem> FItems;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
};
