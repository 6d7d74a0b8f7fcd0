use std::path::PathBuf;
fn main() {
    let mut total: u64 = 0; // sum
    let name = "a \"quoted\" word";
    let items: Vec<i32> = Vec::new();
}
