// Field properties: the properties Access shows in table design (display
// control, lookups, caption, format, input mask, validation, ...) carried from
// the source columns to the output fields. Most become user-defined
// properties; a few set the field's own properties. Other names are not
// carried over.
#include <cstdlib>
#include <string>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputDatabase.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

// How a property's value text is turned into the value passed.
enum class Form { Text, Decimal, Raw, Flag, ListWidth, DatePicker };
enum class Skip { Never, IfMinusOne, IfZero, IfThree, IfNotZero };
enum class Action {
    Create,            // a user-defined property
    CreateAttribute,   // the same, with the field's Attributes set before the append
    Attributes,        // field Attributes := 1
    AllowZeroLength,
    Required,
    DefaultValue,
    ValidationText,
    ValidationRule,
};

struct Rule {
    const char* name;
    Form form;
    Skip skip;
    int type;
    Action action;
};

const Rule kRules[] = {
    {"DisplayControl", Form::Raw, Skip::Never, 3, Action::Create},
    {"ColumnWidth", Form::Decimal, Skip::IfMinusOne, 3, Action::Create},
    {"ColumnWidths", Form::Text, Skip::Never, 10, Action::Create},
    {"ColumnOrder", Form::Decimal, Skip::IfZero, 0, Action::Attributes},
    {"ColumnCount", Form::Raw, Skip::Never, 3, Action::Create},
    {"BoundColumn", Form::Raw, Skip::Never, 3, Action::Create},
    {"ColumnHeads", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"ShowOnlyRowSourceValues", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"AllowZeroLength", Form::Decimal, Skip::IfZero, 0, Action::AllowZeroLength},
    {"Required", Form::Decimal, Skip::IfZero, 0, Action::Required},
    {"DefaultValue", Form::Text, Skip::Never, 0, Action::DefaultValue},
    {"ValidationText", Form::Text, Skip::Never, 0, Action::ValidationText},
    {"ValidationRule", Form::Text, Skip::Never, 0, Action::ValidationRule},
    {"Caption", Form::Text, Skip::Never, 12, Action::Create},
    {"Format", Form::Text, Skip::Never, 10, Action::Create},
    {"InputMask", Form::Text, Skip::Never, 10, Action::Create},
    {"UnicodeCompression", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"ColumnHidden", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"SmartTags", Form::Text, Skip::Never, 10, Action::Create},
    {"ListRows", Form::Raw, Skip::Never, 3, Action::Create},
    {"ListWidth", Form::ListWidth, Skip::IfZero, 10, Action::Create},
    {"LimitToList", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"ListItemsEditForm", Form::Text, Skip::Never, 10, Action::Create},
    {"Description", Form::Text, Skip::Never, 10, Action::Create},
    {"DecimalPlaces", Form::Text, Skip::Never, 2, Action::Create},
    {"AllowMultipleValues", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"AllowValueListEdits", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"IMEMode", Form::Decimal, Skip::Never, 2, Action::Create},
    {"IMESentenceMode", Form::Decimal, Skip::IfThree, 2, Action::Create},
    {"TextFormat", Form::Decimal, Skip::Never, 3, Action::Create},
    {"TextAlign", Form::Decimal, Skip::Never, 2, Action::Create},
    {"AppendOnly", Form::Flag, Skip::IfZero, 1, Action::Create},
    {"ShowDatePicker", Form::DatePicker, Skip::IfNotZero, 3, Action::CreateAttribute},
    {"RowSource", Form::Text, Skip::Never, 12, Action::CreateAttribute},
    {"RowSourceType", Form::Text, Skip::Never, 10, Action::CreateAttribute},
    {"ListItemsEditForms", Form::Text, Skip::Never, 10, Action::CreateAttribute},
};

// atol: leading white space, an optional sign, digits; no digits gives 0.
int32_t decimalForm(const std::string& text) { return static_cast<int32_t>(std::atol(text.c_str())); }

// The first bytes of the text's UTF-16 code units in memory order (as many
// bytes as the text has characters, at most four), zero-extended.
int32_t rawForm(const std::string& text) {
    const std::string units = utf8ToUcs2(text);
    const size_t characters = units.size() / 2;
    uint32_t value = 0;
    for (size_t i = 0; i < characters && i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(units[i])) << (8 * i);
    return static_cast<int32_t>(value);
}

}  // namespace

void COutputDatabase::ApplyFieldProperties(const tableInfo& table, const std::string& outputName) {
    OutputSet& set = Output();
    for (const columnInfo& col : table.columns) {
        if (col.properties.empty()) continue;
        try {
            set.tableDef = set.database->TableDefItem(outputName);
            set.field = set.tableDef->FieldItem(col.name);
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            continue;
        }
        for (const columnProperties& pair : col.properties) {
            const Rule* rule = nullptr;
            for (const Rule& r : kRules) {
                if (pair.name == r.name) {
                    rule = &r;
                    break;
                }
            }
            if (!rule) continue;
            const int32_t decimal = decimalForm(pair.value);
            dao::Variant value;
            int32_t test = decimal;  // what the skip condition looks at
            switch (rule->form) {
                case Form::Text: value = pair.value; break;
                case Form::Decimal: value = int64_t{decimal}; break;
                case Form::Raw: value = int64_t{rawForm(pair.value)}; break;
                case Form::Flag: value = int64_t{decimal != 0 ? 1 : 0}; break;
                case Form::ListWidth: {
                    const std::string cut = pair.value.size() > 4 ? pair.value.substr(0, pair.value.size() - 4) : "";
                    test = decimalForm(cut) / 1440;
                    value = int64_t{test};
                    break;
                }
                case Form::DatePicker:
                    if (aceFormat) {
                        test = rawForm(pair.value);
                        value = int64_t{0};
                    } else {
                        value = std::string("Never");
                    }
                    break;
            }
            const bool skip = (rule->skip == Skip::IfMinusOne && test == -1) ||
                              (rule->skip == Skip::IfZero && test == 0) ||
                              (rule->skip == Skip::IfThree && test == 3) ||
                              (rule->skip == Skip::IfNotZero && test != 0);
            if (skip) continue;
            try {
                switch (rule->action) {
                    case Action::Attributes:
                        try {
                            set.field->SetAttributes(1);
                        } catch (const dao::ComError& error) {
                            NoteOutputError(error);  // its result is ignored
                        }
                        break;
                    case Action::AllowZeroLength: set.field->SetAllowZeroLength(true); break;
                    case Action::Required: set.field->SetRequired(true); break;
                    case Action::DefaultValue: set.field->SetDefaultValue(pair.value); break;
                    case Action::ValidationText: set.field->SetValidationText(pair.value); break;
                    case Action::ValidationRule: set.field->SetValidationRule(pair.value); break;
                    case Action::Create:
                    case Action::CreateAttribute: {
                        if (std::string(rule->name) == "AllowMultipleValues" && !aceFormat) {
                            set.property = set.field->CreateProperty("DisplayControl", 3, int64_t{111}, true);
                            set.field->AppendProperty(set.property);
                        }
                        set.property = set.field->CreateProperty(rule->name, rule->type, value, false);
                        if (rule->action == Action::CreateAttribute) {
                            try {
                                set.field->SetAttributes(1);
                            } catch (const dao::ComError& error) {
                                NoteOutputError(error);
                            }
                        }
                        set.field->AppendProperty(set.property);
                        set.field->RefreshProperties();
                        set.tableDef->RefreshFields();
                        set.database->RefreshTableDefs();
                        break;
                    }
                }
            } catch (const dao::ComError& error) {
                NoteOutputError(error);
            }
        }
    }
    set.property.reset();
}

}  // namespace talmera
