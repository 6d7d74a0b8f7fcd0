#include "../SymbolResolution/TestPrograms.h"
#include "CaptureModel/ModuleDatabase.h"
#include "ProfilerLibUI/FunctionDebugInformationDialog.h"
#include "ProfilerLibUI/ModuleTreeModel.h"
#include "ProfilerLibUI/ModulesAddressLookupWidget.h"
#include "ProfilerLibUI/ModulesSymbolLocationsDialog.h"
#include "ProfilerLibUI/ModulesWidget.h"
#include "ProfilerLibUI/SymbolResolveWidget.h"
#include "QtWidgets/TreeView.h"
#include "Support/TempDirectory.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/SymbolResolver.h"
#include "System/JobScheduler.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

using namespace Profiler;

namespace {

constexpr uint64_t kBase = 0x7f0000000000ull;

/// The symbol tests' program with its DWARF only under its build id: the view finds its symbols but
/// not its debug file, which sits elsewhere from the same build; the "wrong" folder's debug file
/// belongs to another build.
struct Program {
    const SymbolTest::Programs& Built = SymbolTest::GetPrograms();
    std::filesystem::path Image = Built.ByBuildId;
    std::filesystem::path Debug = Built.ByLink.parent_path() / "program.debug";
    std::filesystem::path OtherDebug = Built.WrongLink.parent_path() / "program.debug";
    uint64_t Main = SymbolTest::SymbolAddress("main");
};

std::unique_ptr<NativeModule>
MakeModule(const std::string& name, const std::string& path,
           NativeModule::EResolveStatus status = NativeModule::EResolveStatus::Resolved)
{
    auto module = std::make_unique<NativeModule>();
    module->mName = name;
    module->mPath = path;
    module->mImageSize = 0x10000;
    module->mResolveStatus = status;
    module->mFunctions.push_back({0x1000, 16, name + "_function", 0, 0});
    return module;
}

/// Native modules: 0 the program (one instance), 1 a missing file loaded by three processes,
/// 2 unused, 3 from an old capture; and one JIT module.
void FillModules(ModuleDatabase& modules, const Program& program)
{
    modules.AddNativeModule(MakeModule("prog", program.Image.string()));
    modules.AddNativeModuleInstance({kBase, -5.0, 1e300, 7, 0});
    modules.AddNativeModule(MakeModule("libgone.so", "/nonexistent/libgone.so"));
    for (int32_t process : {1, 2, 3})
        modules.AddNativeModuleInstance(
            {0x10000u * static_cast<uint64_t>(process + 1), 10.0 * process, 50.0, process, 1});
    modules.AddNativeModule(
        MakeModule("libunused.so", "/x/libunused.so", NativeModule::EResolveStatus::Unused));
    modules.AddNativeModule(MakeModule("old.dll", "C:/old.dll", NativeModule::EResolveStatus::OldCapture));
    auto jit = std::make_unique<JITModule>();
    jit->mName = "jitted";
    const uint32_t jitIndex = modules.AddJITModule(std::move(jit));
    modules.AddJITModuleInstance({7, 1.0, 2.0, 0x5000, jitIndex});
}

/// The modules view with its dialogs answered by the test.
class TestModulesWidget : public ModulesWidget {
public:
    using ModulesWidget::ModulesWidget;

    bool Answer = true;
    QString ChosenFile;
    QStringList Questions;
    QStringList Messages;

protected:
    bool Ask(const QString& title, const QString&, const QString&) override
    {
        Questions << title;
        return Answer;
    }
    QString ChooseSymbolFile(const QString& title, const QString&) override
    {
        Questions << title;
        return ChosenFile;
    }
    void ShowMessage(const QString& text) override { Messages << text; }
    bool EditSettings() override { return true; }
};

class ModulesViewTest : public ::testing::Test {
protected:
    ModulesViewTest() { FillModules(mModules, mProgram); }

    ModulesViewContext MakeContext()
    {
        ModulesViewContext context;
        context.Modules = &mModules;
        context.Scheduler = &mScheduler;
        context.ProcessName = [](int32_t process) {
            return process == 7 ? std::string("prog") : std::string();
        };
        context.CaptureStartMs = 0.0;
        context.CaptureEndMs = 100.0;
        context.SettingsPath = mSettingsFolder / "SymbolLocations.json";
        return context;
    }

    /// A view whose symbol searches have all finished.
    std::unique_ptr<TestModulesWidget> MakeView()
    {
        auto view = std::make_unique<TestModulesWidget>(MakeContext());
        QSignalSpy finished(view.get(), &ModulesWidget::ResolvingFinished);
        EXPECT_TRUE(finished.wait(30000));
        return view;
    }

    Program mProgram;
    TestSupport::TempDirectory mSettingsFolder;
    ModuleDatabase mModules;
    System::JobScheduler mScheduler{2};
};

QString StatusOf(const ModulesWidget& view, const QString& name)
{
    const QAbstractItemModel* model = view.GetFilterModel();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data().toString() == name)
            return model->index(row, ModuleTreeModel::StatusColumn).data().toString();
    return QStringLiteral("<hidden>");
}

} // namespace

TEST_F(ModulesViewTest, TreeHasInstancesStatusesAndFilters)
{
    ModuleTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.SetModules(mModules);
    ModulesFilterProxyModel proxy;
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::Fatal);
    proxy.setSourceModel(&model);

    ASSERT_EQ(model.rowCount(), 5);
    const QModelIndex gone = model.FindNativeModule(1);
    ASSERT_EQ(model.rowCount(gone), 3);
    EXPECT_EQ(model.index(1, 0, gone).data().toString(), "libgone.so (2)");
    EXPECT_EQ(model.index(1, ModuleTreeModel::StatusColumn, gone).data().toString(), "");
    EXPECT_EQ(model.rowCount(model.FindNativeModule(0)), 0); // loaded once: no instance rows
    EXPECT_EQ(model.GetRow(model.FindNativeModule(0))->InstanceIndex, 0);
    auto status = [&](int row) { return model.index(row, ModuleTreeModel::StatusColumn).data().toString(); };
    EXPECT_EQ((QStringList{status(0), status(1), status(2), status(3), status(4)}),
              (QStringList{"Resolved", "Resolved", "Unused", "N/A", "JIT Compiled"}));
    EXPECT_EQ(model.index(4, ModuleTreeModel::TypeColumn).data().toString(), "JIT");
    EXPECT_TRUE(model.HasJITModules());

    // A search outcome changes the module and its instances.
    model.SetNativeStatus(1, EModuleStatus::Unresolved, "Image not found.");
    EXPECT_EQ(status(1), "Unresolved");
    EXPECT_EQ(model.index(0, ModuleTreeModel::StatusValueColumn, gone).data().toInt(), 0);

    proxy.SetStatusFilter(static_cast<int>(EModuleStatus::Unresolved));
    EXPECT_EQ(proxy.rowCount(), 1);
    proxy.SetStatusFilter(kAllModuleStatuses);
    proxy.SetFindText("^lib.*\\.so$");
    EXPECT_EQ(proxy.rowCount(), 2);
    proxy.SetFindText("(2)"); // only an instance matches: its module stays to hold it
    ASSERT_EQ(proxy.rowCount(), 1);
    EXPECT_EQ(proxy.rowCount(proxy.index(0, 0)), 1);
    proxy.SetFindText("old.d["); // no valid expression: taken literally
    EXPECT_EQ(proxy.rowCount(), 0);
}

TEST_F(ModulesViewTest, StatusesFollowTheSymbolSearch)
{
    // Mapped but never in a stack: importers mark it Resolved all the same.
    auto mapped = MakeModule("libmapped.so", "/x/libmapped.so");
    mapped->mFunctions.clear();
    mModules.AddNativeModule(std::move(mapped));
    auto view = MakeView();
    EXPECT_EQ(StatusOf(*view, "prog"), "Unresolved"); // symbols only: the debug file is elsewhere
    EXPECT_EQ(StatusOf(*view, "libgone.so"), "Unresolved");
    EXPECT_EQ(StatusOf(*view, "libunused.so"), "Unused");
    EXPECT_EQ(StatusOf(*view, "libmapped.so"), "Unused");

    // The debug file itself carries the program's DWARF.
    auto debugInImage = ModuleSymbols::Load(mProgram.Debug.string(), {});
    EXPECT_EQ(MapModuleStatus(NativeModule::EResolveStatus::Resolved, debugInImage.get()),
              EModuleStatus::Resolved);
    EXPECT_EQ(DescribeModuleStatus(EModuleStatus::Resolved, debugInImage.get()),
              "Debug information found in the file itself.");
    auto missing = ModuleSymbols::Load("/nonexistent/lib.so", {});
    EXPECT_EQ(MapModuleStatus(NativeModule::EResolveStatus::Resolved, missing.get()),
              EModuleStatus::Unresolved);
    EXPECT_EQ(DescribeModuleStatus(EModuleStatus::Unresolved, missing.get()), "Image not found.");
    EXPECT_EQ(MapModuleStatus(NativeModule::EResolveStatus::OldCapture, missing.get()),
              EModuleStatus::NotAvailable);
}

TEST_F(ModulesViewTest, DetailsAndResolveLogOfTheSelection)
{
    auto view = MakeView();
    EXPECT_EQ(view->GetMessageText(), "Select a module to view resolve information.");

    view->SelectNativeModule(0);
    const QString details = view->GetDetailsText();
    for (const char* expected : {"Process ID 7", "Process Name prog", "Image base 0x7F0000000000",
                                 "Loaded at Capture start", "Unloaded at Capture end", "Module ID 0"})
        EXPECT_TRUE(details.simplified().contains(QString::fromLatin1(expected)))
            << expected << " in " << details.toStdString();
    EXPECT_TRUE(view->GetMessageText().isEmpty());
    const QString log = view->GetResolveWidget()->GetResolveText();
    EXPECT_TRUE(log.startsWith("Resolve Log\n----------------------\nImage: found")) << log.toStdString();
    EXPECT_TRUE(log.contains("Build id:")) << log.toStdString();

    EXPECT_TRUE(view->SelectNativeModule(QStringLiteral("libunused.so")));
    EXPECT_FALSE(view->SelectNativeModule(QStringLiteral("jitted"))); // native modules only
    EXPECT_EQ(view->GetMessageText(),
              "This module did not show up in any callstack and was therefore never resolved.");
    view->SelectNativeModule(3);
    EXPECT_TRUE(view->GetMessageText().startsWith("This capture was made in a previous version"));

    view->SetFindText("libgone");
    view->GetTree()->selectAll();
    EXPECT_EQ(view->GetSelectionText(), "libgone.so\tNative\tUnresolved\n");
}

TEST_F(ModulesViewTest, LocatingADebugFileByHandChecksTheBuildAndAsksToReprocess)
{
    auto view = MakeView();
    QSignalSpy reprocess(view.get(), &ModulesWidget::ReprocessRequested);
    view->SelectNativeModule(0);

    view->ChosenFile = QString::fromStdString(mProgram.OtherDebug.string());
    view->LocateSymbolFile();
    ASSERT_EQ(view->Messages.size(), 1);
    EXPECT_TRUE(view->Messages.front().startsWith("The file does not match"))
        << view->Messages.front().toStdString();
    EXPECT_EQ(view->Questions, QStringList{"Browse for by-build-id.debug"});
    EXPECT_EQ(reprocess.count(), 0);

    view->ChosenFile = QString::fromStdString(mProgram.Debug.string());
    view->LocateSymbolFile();
    EXPECT_EQ(view->Questions.back(), "Symbol Resolve Result");
    EXPECT_EQ(reprocess.count(), 1);
    // Saved at once, and the next view resolves the module with it.
    Serialization::ErrorList errors;
    auto settings = LoadSymbolLocationSettings(MakeContext().SettingsPath, errors);
    ASSERT_NE(settings, nullptr) << errors.ToString();
    ASSERT_EQ(settings->mLocatedDebugFiles.size(), 1u);
    EXPECT_EQ(settings->mLocatedDebugFiles.begin()->second, mProgram.Debug.string());
    auto next = MakeView();
    EXPECT_EQ(StatusOf(*next, "prog"), "Resolved");

    // Reprocessing asks first; settings changes ask again.
    view->Answer = false;
    view->Reprocess();
    view->OpenSettings();
    EXPECT_EQ(reprocess.count(), 1);
    view->Answer = true;
    view->Reprocess();
    view->OpenSettings();
    EXPECT_EQ(reprocess.count(), 3);
}

TEST_F(ModulesViewTest, AddressLookupAnswersInTheViewEscapedAndParsesLeniently)
{
    auto view = MakeView();
    ModulesAddressLookupWidget* lookup = view->GetAddressLookup();
    QSignalSpy finished(lookup, &ModulesAddressLookupWidget::LookupFinished);
    lookup->LookUp(QString::asprintf("0x%llx", static_cast<unsigned long long>(kBase + mProgram.Main)),
                   false);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(
        lookup->GetResultText().contains("in module <b>prog</b> was resolved to function <b>main</b>"))
        << lookup->GetResultText().toStdString();

    lookup->LookUp("0x30005", false); // in the second of libgone's instances, in none of its functions
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(lookup->GetResultText().contains("libgone.so")) << lookup->GetResultText().toStdString();

    lookup->LookUp("1000", true); // relative, without a selected module
    EXPECT_EQ(lookup->GetResultText(), "Select a module to look up a relative address in.");
    view->SelectNativeModule(1);
    lookup->LookUp("1004", true);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(
        lookup->GetResultText(),
        "<b>0x1004</b> in module <b>libgone.so</b> was resolved to function <b>libgone.so_function</b>");
    lookup->LookUp("xyz", false);
    EXPECT_EQ(lookup->GetResultText(), "<b>xyz</b> is not a hexadecimal address");

    // Answers escape names; addresses parse leniently.
    AddressLookupResult result;
    result.Address = 0x10;
    result.Outcome = AddressLookupResult::EOutcome::Resolved;
    result.ModuleName = "a<b>";
    result.FunctionName = "f<int>";
    result.RelativeAddress = 0x8;
    result.SourceFile = "/s.cpp";
    result.Line = 3;
    EXPECT_EQ(FormatAddressLookupText(result),
              "<b>0x10</b> in module <b>a&lt;b&gt;</b> was resolved to function "
              "<b>f&lt;int&gt;</b> at offset 0x8<br>/s.cpp:3");
    EXPECT_EQ(ParseAddress(" 0X7f00 "), 0x7f00u);
    EXPECT_EQ(ParseAddress("ff"), 0xffu);
    EXPECT_FALSE(ParseAddress("0x"));
    EXPECT_FALSE(ParseAddress("12g"));
}

TEST_F(ModulesViewTest, SymbolFoldersAreSavedAtOnce)
{
    SymbolLocationSettings settings;
    const auto path = mSettingsFolder / "SymbolLocations.json";
    ModulesSymbolLocationsDialog dialog(settings, path);
    dialog.AddFolder("/opt/a");
    dialog.AddFolder("/opt/b");
    dialog.AddFolder("/opt/a"); // once only
    dialog.RemoveFolder(0);
    EXPECT_TRUE(dialog.WasChanged());
    Serialization::ErrorList errors;
    auto stored = LoadSymbolLocationSettings(path, errors);
    ASSERT_NE(stored, nullptr) << errors.ToString();
    EXPECT_EQ(stored->mLocalFolders, std::vector<std::string>{"/opt/b"});
}

TEST_F(ModulesViewTest, FunctionInformationDialogResolvesTheFunctionAndItsModule)
{
    FunctionDebugInformationDialog dialog(
        mModules, std::make_shared<SymbolResolver>(), mScheduler,
        ResolvedAddress::Make(mProgram.Main, ResolvedAddress::kKindNative, 0));
    QSignalSpy ready(&dialog, &FunctionDebugInformationDialog::Ready);
    ASSERT_TRUE(ready.wait(30000));
    // The symbol search finds the program's file and main's range in it.
    const QString text = dialog.GetText();
    EXPECT_TRUE(text.contains(QString::fromStdString(mProgram.Image.string()))) << text.toStdString();
    EXPECT_TRUE(text.contains("0x" + QString::number(mProgram.Main, 16) + " - ")) << text.toStdString();
}
