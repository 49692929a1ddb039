-- The README's sample query (scripts/screenshot runs the indented lines).
    select o.注文日時, c.氏名, c.都道府県, p.商品名, o.数量, p.価格 * o.数量 as 金額, c.メモ
    from 注文 o join 顧客 c using (顧客ID) join 商品 p using (商品ID)
    order by o.注文日時 desc limit 200
