<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CQorOneClickApp</name>
    <message>
        <source>Run the window against a built-in router emulator on loopback, with sample images.</source>
        <translation>让窗口连接回环地址上的内置路由器模拟器，并使用示例升级文件。</translation>
    </message>
    <message>
        <source>Demo only: run its clock N times faster (1 to 1000, default 1).</source>
        <translation>仅用于演示：时钟加快 N 倍（1 到 1000，默认 1）。</translation>
    </message>
    <message>
        <source>Scan DIR for the .bin upgrade images instead of searching for them.</source>
        <translation>在 DIR 中查找 .bin 升级文件，而不按默认顺序查找。</translation>
    </message>
    <message>
        <source>Upgrades the router on this PC&apos;s network and its wireless module: Check, then Upgrade.</source>
        <translation>升级本机网络中的路由器及其无线模块：先“检查”，再“升级”。</translation>
    </message>
    <message>
        <source>unexpected argument &apos;%1&apos;</source>
        <translation>多余的参数“%1”</translation>
    </message>
    <message>
        <source>option --images needs a folder</source>
        <translation>选项 --images 需要一个文件夹</translation>
    </message>
    <message>
        <source>not a speed (a number from 1 to 1000): &apos;%1&apos;</source>
        <translation>速度无效（应为 1 到 1000 之间的数）：“%1”</translation>
    </message>
    <message>
        <source>--speed applies to --demo only</source>
        <translation>--speed 只能与 --demo 一起使用</translation>
    </message>
    <message>
        <source>Images: without --images the first of these that holds a .bin file is used: the images
embedded in the program, the program&apos;s folder, $XDG_DATA_HOME/qor-oneclick/images
(~/.local/share/qor-oneclick/images), each $XDG_DATA_DIRS entry + /qor-oneclick/images
(/usr/local/share, /usr/share). A folder dropped onto the list is used for the next Check.
</source>
        <translation>升级文件：未给出 --images 时，使用下列位置中第一个含有 .bin 文件的位置：程序内嵌的
升级文件、程序所在的文件夹、$XDG_DATA_HOME/qor-oneclick/images
（~/.local/share/qor-oneclick/images）、每个 $XDG_DATA_DIRS 条目下的 qor-oneclick/images
（/usr/local/share、/usr/share）。拖放到列表上的文件夹用于下一次检查。
</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>The demo could not start: %1</source>
        <translation>演示无法启动：%1</translation>
    </message>
    <message>
        <source>This build has no demo.</source>
        <translation>此版本不含演示。</translation>
    </message>
    <message>
        <source>no display to show the window on: set DISPLAY or WAYLAND_DISPLAY, or choose a platform with -platform</source>
        <translation>没有可以显示窗口的显示器：请设置 DISPLAY 或 WAYLAND_DISPLAY，或用 -platform 选择平台</translation>
    </message>
</context>
<context>
    <name>CQorOneClickDlg</name>
    <message>
        <source>Press F1 for Help</source>
        <translation>按 F1 获取帮助</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>The work could not be started: no thread could be created</source>
        <translation>无法开始工作：无法创建线程</translation>
    </message>
    <message>
        <source>Save a support report...</source>
        <translation>保存支持报告...</translation>
    </message>
    <message>
        <source>A support report can be saved once the Check or the upgrade has ended.</source>
        <translation>检查或升级结束后才能保存支持报告。</translation>
    </message>
    <message>
        <source>Save a support report</source>
        <translation>保存支持报告</translation>
    </message>
    <message>
        <source>Support reports (*.tar.gz)</source>
        <translation>支持报告 (*.tar.gz)</translation>
    </message>
    <message>
        <source>The support report was saved as %1</source>
        <translation>支持报告已保存为 %1</translation>
    </message>
    <message>
        <source>The support report could not be written: %1</source>
        <translation>无法写入支持报告：%1</translation>
    </message>
</context>
<context>
    <name>CSingleInstance</name>
    <message>
        <source>cannot create the lock file %1</source>
        <translation>无法创建锁文件 %1</translation>
    </message>
</context>
</TS>
