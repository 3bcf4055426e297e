#pragma once
// The main dialog's controls as the settings logic sees them, by control id
// (res/resource.h). The Windows program implements this over the real
// dialog; the tests over plain values.
#include <string>

class DialogControls {
 public:
  virtual ~DialogControls();

  // The text of an edit field or of a combo box's edit part.
  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, const char* text) = 0;

  // List entries of a combo box.
  virtual void AddListEntry(int id, const char* text) = 0;
  // Index of the first entry whose whole text equals text, ignoring case; -1 if none.
  virtual int FindListEntry(int id, const char* text) = 0;
  virtual int GetSelectedIndex(int id) = 0;  // -1: nothing selected
  virtual void SelectListEntry(int id, int index) = 0;

  // Check boxes and radio buttons.
  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
};
