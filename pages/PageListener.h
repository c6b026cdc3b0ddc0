// The listener pages: how the SMTP, POP3 and IMAP4 services listen for clients. One core reads
// and writes the interfaces, the three performance numbers, reverse lookup and the access lists
// of a service's ".cfg" file; a table per service says what differs (file, ports, ranges, the
// lists and their older keys). The list files are written when the page is applied, each after
// its backup copy into "backup.cfg"; the ".cfg" values go into the map, saved after OK.
#pragma once

#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/InterfaceDlg.h"
#include "pages/RowModel.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The access entries of a list, shown sorted, as a list box shows them.
class CSortedListRows : public CRowModel {
public:
    explicit CSortedListRows(const CStringListEx& list) : m_list(list) {}
    std::span<const CColumnSpec> Columns() const override;
    std::size_t RowCount() const override { return m_sorted.size(); }
    std::string CellText(std::size_t row, std::size_t column) const override;
    // Reads the list again.
    void Refill();
    // Whether the list has changed since the last Refill (another page that shares it).
    bool IsStale() const;

private:
    const CStringListEx& m_list;
    std::vector<std::string> m_sorted;
    std::vector<std::string> m_seen; // the list as it stood at the last Refill
};

// One access list edited with ">" and "<": an address and a mask field compose "%s/%s", which
// ">" appends; "<" takes the selected entry out and back into the two fields. The Syslog page
// and the listener pages use the same one.
class CAccessListEditor {
public:
    struct Ids {
        const char* address; // fields
        const char* mask;
        const char* list;   // the list box
        const char* add;    // ">"
        const char* remove; // "<"
    };
    CAccessListEditor(Ids ids, CStringListEx& list) : m_ids(ids), m_list(list), m_rows(list) {}

    const Ids& ids() const { return m_ids; }
    CSortedListRows& rows() { return m_rows; }
    // ">": true when an entry was added. An address or mask that is not dotted IPv4 is refused
    // with a message, the fields keep it for correction.
    bool Add(CFieldModel& model, CPrompter& prompter);
    // "<": true when an entry was taken out.
    bool Remove(CFieldModel& model);
    void UpdateStates(CFieldModel& model) const;
    // Whether a command or list id is this editor's.
    bool Owns(std::string_view id) const;

private:
    Ids m_ids;
    CStringListEx& m_list;
    CSortedListRows m_rows;
};

// The interface list: address ("<alle>" for "*"), TCP port and SSL/TLS, one row per entry.
class CInterfaceRows : public CRowModel {
public:
    enum Icon : int { kPlain = 0, kSecure = 1 };
    CInterfaceRows(const CStringListEx& entries, long defaultPort, long sslPort)
        : m_entries(entries), m_defaultPort(defaultPort), m_sslPort(sslPort) {}
    std::span<const CColumnSpec> Columns() const override;
    std::span<const char* const> Icons() const override;
    std::size_t RowCount() const override { return m_rows.size(); }
    std::string CellText(std::size_t row, std::size_t column) const override;
    int RowIcon(std::size_t row) const override;
    void Refill();

private:
    struct Row {
        std::string address;
        long port;
        bool ssl;
    };
    const CStringListEx& m_entries;
    long m_defaultPort;
    long m_sslPort;
    std::vector<Row> m_rows;
};

namespace listener {

// One element of the key Interface, read: the text before the first ":" is the address, the
// leading digits after it the port, a trailing "s" switches SSL/TLS on; a port of 0 (or none)
// is the service's default port, or its SSL port with SSL/TLS.
struct InterfaceEntry {
    std::string address;
    long port;
    bool ssl;
};
InterfaceEntry ReadInterface(std::string_view entry, long defaultPort, long sslPort);
// "%s:%d", with "s" appended for SSL/TLS; "<alle>" in any letter case becomes "*".
std::string MakeInterface(std::string_view address, long port, bool ssl);

// Why an access entry of address and mask would not be added (the German text, Windows-1252),
// or nothing when both are dotted IPv4.
std::optional<std::string> AccessRefusal(std::string_view address, std::string_view mask);

// A list file of a page: the key that names it, its default name, and the older key (with its
// default) that seeds it when the file gives nothing; the ids of its editor when it is shown.
struct ListFile {
    const char* fileKey;
    const char* defaultName;
    const char* seedKey = nullptr;
    const char* seedDefault = nullptr;
    CAccessListEditor::Ids editor = {}; // list null: not shown
};

} // namespace listener

// The advanced dialog of a page, made when "&Erweitert..." is chosen; empty: the button does
// nothing.
using AdvancedDialogFactory = std::function<std::unique_ptr<CDialogModel>(CConfigSet&)>;

class CPageConfigListener : public CPageModel {
public:
    // Field, list and command ids; the form names its controls after them.
    static constexpr const char* kMaxThreads = "maxThreads";
    static constexpr const char* kBacklog = "backlog";
    static constexpr const char* kTimeOut = "timeOut";
    static constexpr const char* kReverseLookup = "reverseLookup";
    static constexpr const char* kAllowAddress = "allowAddress";
    static constexpr const char* kAllowMask = "allowMask";
    static constexpr const char* kAdvancedText = "advancedText";
    static constexpr const char* kInterfaces = "interfaces";
    static constexpr const char* kAllowList = "allowList";
    static constexpr const char* kAddInterface = "addInterface";
    static constexpr const char* kRemoveInterface = "removeInterface";
    static constexpr const char* kEditInterface = "editInterface";
    static constexpr const char* kAllowAdd = "allowAdd";
    static constexpr const char* kAllowRemove = "allowRemove";
    static constexpr const char* kAdvanced = "advanced";

    // What differs between the members of the family.
    struct Table {
        const char* caption; // UTF-8
        unsigned helpContext;
        const char* form;
        CConfigMap CConfigSet::*file;
        long defaultPort;
        long sslPort;
        long addPort;
        const char* advancedText; // Windows-1252
        std::span<const CFieldSpec> fields;
        std::span<const CCommandSpec> commands;
        std::span<const CListSpec> lists;
        std::span<const listener::ListFile> listFiles; // in load and save order
        std::span<const char* const> removedKeys;      // on apply, in this order
    };

    CPageConfigListener(const Table& table, CConfigSet& config, AdvancedDialogFactory advanced,
                        listener::AddressSource addresses);

    const char* Caption() const override { return m_table.caption; }
    unsigned HelpContext() const override { return m_table.helpContext; }
    const char* FormName() const override { return m_table.form; }
    std::span<const CFieldSpec> Fields() const override { return m_table.fields; }
    std::span<const CCommandSpec> Commands() const override { return m_table.commands; }
    std::span<const CListSpec> Lists() const override { return m_table.lists; }
    CRowModel* RowsOf(std::string_view listId) override;

    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    void OnFieldEdited(std::string_view id) override;
    void UpdateStates() override;
    // Shows what another page that shares a list has changed in it.
    void OnFirstShow(CPrompter& prompter) override;
    bool Poll(CPrompter& prompter) override;
    bool OnApply(CPrompter& prompter) override;
    bool OnStage(CPrompter& prompter) override;
    // The service's file: its fields, "Interface", the list files' keys, and what the advanced
    // dialog keeps (its button); a list file by its name: its list.
    std::optional<std::string> ShowKey(std::string_view file, std::string_view key,
                                       CPrompter& prompter) override;

    const CStringListEx& Interfaces() const { return m_interfaces; }
    // The service's port for an interface entry without one, and for one with SSL/TLS.
    long DefaultPort() const { return m_table.defaultPort; }
    long SslPort() const { return m_table.sslPort; }
    const CInterfaceRows& InterfaceRows() const { return m_interfaceRows; }
    // The list of a file key ("AccessAllowFile", ...), shared with the pages naming the same
    // file.
    CStorableList& ListOf(std::string_view fileKey);
    // The list files of the page, in load and save order.
    std::span<const listener::ListFile> ListFiles() const { return m_table.listFiles; }
    // Where the list of a file key lives.
    std::string PathOf(std::string_view fileKey) const;

private:
    // The interfaces and numbers into the service's file.
    void StoreFields();
    // Drops the older keys whose entries moved into a list file, once listSaved(path) says the
    // list reached its file.
    void DropRemovedKeys(const std::function<bool(const std::string&)>& listSaved);
    CConfigMap& File() const { return m_config.*m_table.file; }
    std::string FileName(const listener::ListFile& file) const;
    // The interface entry the selected row shows: the first with its address and port.
    std::optional<CStringListEx::POSITION> FindSelectedInterface() const;
    void EditInterface(CPrompter& prompter, bool adding);
    void SaveLists(CPrompter& prompter);

    const Table& m_table;
    CConfigSet& m_config;
    AdvancedDialogFactory m_advanced;
    listener::AddressSource m_addresses;
    std::string m_directory; // the configuration directory
    std::vector<CStorableList*> m_lists; // by m_table.listFiles
    std::vector<std::unique_ptr<CAccessListEditor>> m_editors;
    CStringListEx m_interfaces;
    CInterfaceRows m_interfaceRows;
};

class CPageConfigPOP3 : public CPageConfigListener {
public:
    explicit CPageConfigPOP3(CConfigSet& config, AdvancedDialogFactory advanced = {},
                             listener::AddressSource addresses = platform::QueryLocalAddresses);
};

class CPageConfigIMAP4 : public CPageConfigListener {
public:
    explicit CPageConfigIMAP4(CConfigSet& config, AdvancedDialogFactory advanced = {},
                              listener::AddressSource addresses = platform::QueryLocalAddresses);
};

class CPageConfigSMTP : public CPageConfigListener {
public:
    static constexpr const char* kRelayAddress = "relayAddress";
    static constexpr const char* kRelayMask = "relayMask";
    static constexpr const char* kRelayList = "relayList";
    static constexpr const char* kRelayAdd = "relayAdd";
    static constexpr const char* kRelayRemove = "relayRemove";

    explicit CPageConfigSMTP(CConfigSet& config, AdvancedDialogFactory advanced = {},
                             listener::AddressSource addresses = platform::QueryLocalAddresses);
};
