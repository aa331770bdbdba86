<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Basic_From_Top</name>
    <message>
        <source>Minimise</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Maximise</source>
        <translation>最大化</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>还原</translation>
    </message>
</context>
<context>
    <name>Contents_Dialog</name>
    <message>
        <source>Contents of %1</source>
        <translation>%1 的内容</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>Modified</source>
        <translation>修改时间</translation>
    </message>
    <message>
        <source>Entries</source>
        <translation>条目</translation>
    </message>
    <message>
        <source>&amp;Unpack selected to…</source>
        <translation>解包所选到(&amp;U)…</translation>
    </message>
    <message>
        <source>Reading the container…</source>
        <translation>正在读取容器…</translation>
    </message>
    <message>
        <source>This container cannot be listed: %1</source>
        <translation>无法列出此容器：%1</translation>
    </message>
    <message numerus="yes">
        <source>%n entries</source>
        <translation>
            <numerusform>%n 个条目</numerusform>
        </translation>
    </message>
    <message>
        <source>Not unpacked, damaged: %1</source>
        <translation>已损坏，未解包：%1</translation>
    </message>
</context>
<context>
    <name>Password_Dialog</name>
    <message>
        <source>Password for the next container</source>
        <translation>下一个容器的密码</translation>
    </message>
    <message>
        <source>Password needed</source>
        <translation>需要密码</translation>
    </message>
    <message>
        <source>The next container is protected with this password; without it nothing in the container can be read. A forgotten password cannot be recovered. Leave both fields empty for no password.</source>
        <translation>下一个容器将受此密码保护；没有密码则无法读取容器中的任何内容。忘记的密码无法找回。两栏都留空则不设密码。</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Repeat the password</source>
        <translation>再次输入密码</translation>
    </message>
    <message>
        <source>&amp;Show password</source>
        <translation>显示密码(&amp;S)</translation>
    </message>
    <message>
        <source>The two entries differ.</source>
        <translation>两次输入不一致。</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>密码(&amp;P)：</translation>
    </message>
    <message>
        <source>&amp;Repeat:</source>
        <translation>再次输入(&amp;R)：</translation>
    </message>
    <message>
        <source>%1 is protected by a password.</source>
        <translation>%1 受密码保护。</translation>
    </message>
    <message>
        <source>Wrong password or damaged container: try %1 of %2.</source>
        <translation>密码错误或容器已损坏：第 %1 次，共 %2 次。</translation>
    </message>
    <message>
        <source>A password is set for the next container (Ctrl+P to change it).</source>
        <translation>已为下一个容器设置密码（按 Ctrl+P 更改）。</translation>
    </message>
</context>
<context>
    <name>Pellanor</name>
    <message>
        <source>The list was emptied: its %1 entries belong to the other type</source>
        <translation>列表已清空：其中 %1 项属于另一类型</translation>
    </message>
    <message>
        <source>Packing is still running. Stop it and close? Nothing of it is kept.</source>
        <translation>正在打包。停止并关闭吗？已打包的内容不会保留。</translation>
    </message>
    <message>
        <source>Unpacking is still running. Stop it and close? The files unpacked so far are kept; a new run completes the rest.</source>
        <translation>正在解包。停止并关闭吗？已解出的文件会保留，再次解密可补全其余。</translation>
    </message>
    <message>
        <source>Unpack to</source>
        <translation>解包到</translation>
    </message>
    <message>
        <source>Pack as</source>
        <translation>打包为</translation>
    </message>
</context>
<context>
    <name>Pellanor_View</name>
    <message>
        <source>Files and folders</source>
        <translation>文件和文件夹</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
</context>
<context>
    <name>QMenu</name>
    <message>
        <source>&amp;Pack as…</source>
        <translation>打包为(&amp;P)…</translation>
    </message>
    <message>
        <source>&amp;Unpack to…</source>
        <translation>解包到(&amp;U)…</translation>
    </message>
    <message>
        <source>&amp;Show contents…</source>
        <translation>显示内容(&amp;S)…</translation>
    </message>
</context>
<context>
    <name>Run_Report</name>
    <message>
        <source>not a container, or damaged</source>
        <translation>不是容器文件，或已损坏</translation>
    </message>
    <message>
        <source>The cipher has no key: anyone with Corvanta can open this container.</source>
        <translation>此加密没有密钥：任何有 Corvanta 的人都能打开这个容器。</translation>
    </message>
    <message>
        <source>Recover what is intact</source>
        <translation>恢复完好的部分</translation>
    </message>
    <message>
        <source>Entries recovered from damaged containers: %1</source>
        <translation>从损坏的容器中恢复的条目：%1</translation>
    </message>
</context>
</TS>
